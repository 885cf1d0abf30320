// lightsout's commit against the fake device: which objects, properties and values.
#include "display/display.h"
#include "display_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

display_handle ready()
{
    fake_drm_reset(fake_default_device());
    display_handle h{};
    display_init(h, LIGHTSOUT_DISPLAY);
    return h;
}

TEST(DisplaysOff, OneBlockingModesetDeactivatesCrtcAndDetachesPlaneAndConnector)
{
    const display_handle h = ready();
    ASSERT_TRUE(displays_off(h));

    std::vector<const fake_call*> commits;
    for (const fake_call& c : fake_drm_calls())
        if (c.request == fake_req::ATOMIC)
            commits.push_back(&c);
    ASSERT_EQ(commits.size(), 1u) << "requests: " << names_of(requests_of(fake_drm_calls()));
    const fake_call& c = *commits[0];
    const auto req = arg_of<drm_mode_atomic>(c);
    EXPECT_EQ(req.flags, uint32_t{DRM_MODE_ATOMIC_ALLOW_MODESET})
        << "no event, not non-blocking: the panels are dark when lightsout ends";
    EXPECT_EQ(c.objs, (std::vector<uint32_t>{41, 31, 61})) << "connector, CRTC, plane";
    EXPECT_EQ(c.counts, (std::vector<uint32_t>{1, 2, 2}));
    EXPECT_EQ(c.props, (std::vector<uint32_t>{
                           fake_prop_id(DRM_MODE_OBJECT_CONNECTOR, "CRTC_ID"),
                           fake_prop_id(DRM_MODE_OBJECT_CRTC, "MODE_ID"),
                           fake_prop_id(DRM_MODE_OBJECT_CRTC, "ACTIVE"),
                           fake_prop_id(DRM_MODE_OBJECT_PLANE, "FB_ID"),
                           fake_prop_id(DRM_MODE_OBJECT_PLANE, "CRTC_ID"),
                       }));
    EXPECT_EQ(c.values, (std::vector<uint64_t>{0, 0, 0, 0, 0}));
}

TEST(DisplaysOff, RefusedCommitIsReportedAsFailure)
{
    const display_handle h = ready();
    fake_drm_fail({fake_req::ATOMIC, 1, 1, EBUSY});
    errno = 0;
    EXPECT_FALSE(displays_off(h));
    EXPECT_EQ(errno, EBUSY);
}

} // namespace
