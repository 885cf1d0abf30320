// Framebuffer, commit and flip-event handling against the fake device.
#include "display/display.h"
#include "display_test_support.h"
#include "support/fatal_conditions.h"
#include "support/printed.h"

#include <drm_fourcc.h>
#include <gtest/gtest.h>

#include <poll.h>


using testing::ExitedWithCode;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

display_handle ready(const fake_device& dev, const display_config& cfg)
{
    fake_drm_reset(dev);
    display_handle h{};
    CaptureStdout();
    display_init(h, cfg, 0);
    GetCapturedStdout();
    return h;
}

std::vector<const fake_call*> calls_of(fake_req r)
{
    std::vector<const fake_call*> out;
    for (const fake_call& c : fake_drm_calls())
        if (c.request == r)
            out.push_back(&c);
    return out;
}

std::vector<uint8_t> event_bytes(uint32_t type)
{
    drm_event_vblank ev{};
    ev.base.type = type;
    ev.base.length = sizeof ev;
    std::vector<uint8_t> bytes(sizeof ev);
    std::memcpy(bytes.data(), &ev, sizeof ev);
    return bytes;
}

TEST(DisplayFramebuffer, DumbBufferMapAndRegistrationCarryTheModeGeometry)
{
    display_handle h = ready(fake_default_device(), PANELCOLOR_DISPLAY);
    const display_fb fb = display_create_fb(h);

    const auto create = arg_of<drm_mode_create_dumb>(*calls_of(fake_req::CREATE_DUMB).at(0));
    EXPECT_EQ(create.width, 4320u);
    EXPECT_EQ(create.height, 2160u);
    EXPECT_EQ(create.bpp, 32u);
    EXPECT_EQ(create.flags, 0u);
    EXPECT_EQ(fb.pitch, 17280u);

    const auto map = arg_of<drm_mode_map_dumb>(*calls_of(fake_req::MAP_DUMB).at(0));
    EXPECT_EQ(map.handle, fb.handle);
    EXPECT_EQ(map.offset, 0u);
    EXPECT_EQ(fb.map, fake_dumb_map());

    const auto add = arg_of<drm_mode_fb_cmd2>(*calls_of(fake_req::ADDFB2).at(0));
    EXPECT_EQ(add.width, 4320u);
    EXPECT_EQ(add.height, 2160u);
    EXPECT_EQ(add.pixel_format, uint32_t{DRM_FORMAT_XRGB8888});
    EXPECT_EQ(add.flags, uint32_t{DRM_MODE_FB_MODIFIERS});
    EXPECT_EQ(add.handles[0], fb.handle);
    EXPECT_EQ(add.pitches[0], 17280u);
    EXPECT_EQ(add.offsets[0], 0u);
    EXPECT_EQ(add.modifier[0], uint64_t{DRM_FORMAT_MOD_LINEAR});
    EXPECT_EQ(add.handles[1] | add.pitches[1], 0u);
    EXPECT_NE(fb.fb_id, 0u);

    // The last word of the frame is the bottom-right pixel and lies inside the mapping.
    EXPECT_GE(fb.size, uint64_t{4320} * 2160 * 4);
}

TEST(DisplayFramebuffer, DriverWithoutModifiersGetsNoModifierFlag)
{
    fake_device dev = fake_default_device();
    dev.addfb2_modifiers = false;
    display_handle h = ready(dev, PANELCOLOR_DISPLAY);
    display_create_fb(h);
    EXPECT_EQ(arg_of<drm_mode_fb_cmd2>(*calls_of(fake_req::ADDFB2).at(0)).flags, 0u);
}

TEST(DisplayFramebuffer, PaddedPitchIsKeptAndRegistered)
{
    fake_device dev = fake_default_device();
    dev.pitch_padding = 128;
    display_handle h = ready(dev, PANELCOLOR_DISPLAY);
    const display_fb fb = display_create_fb(h);
    EXPECT_EQ(fb.pitch, 17408u);
    EXPECT_EQ(arg_of<drm_mode_fb_cmd2>(*calls_of(fake_req::ADDFB2).at(0)).pitches[0], 17408u);
}

TEST(DisplayFramebuffer, PlaneFormatQueryFollowsThePlanesList)
{
    display_handle h = ready(fake_default_device(), PANELSHOW_DISPLAY);
    EXPECT_TRUE(display_plane_has_format(h, FORMAT_XB24));
    fake_device dev = fake_default_device();
    dev.planes[0].formats = {DRM_FORMAT_XRGB8888};
    h = ready(dev, PANELSHOW_DISPLAY);
    EXPECT_FALSE(display_plane_has_format(h, FORMAT_XB24));
    EXPECT_TRUE(display_plane_has_format(h, FORMAT_XR24));
}

// Each step of making the framebuffer failed; the diagnostic and the call its
// reason names are the request's row in FATAL_CONDITIONS.
class DisplayFramebufferFailure : public testing::TestWithParam<fatal_condition> {};

TEST_P(DisplayFramebufferFailure, NamesTheFunctionTheProgramChose)
{
    const fatal_condition c = GetParam();
    fake_req request;
    ASSERT_TRUE(fake_req_from_name(c.request, request)) << c.request;
    for (const display_config* cfg : {&PANELSHOW_DISPLAY, &PANELCOLOR_DISPLAY}) {
        EXPECT_EXIT(
            {
                display_handle h = ready(fake_default_device(), *cfg);
                fake_drm_fail({request, 1, 1, ENOMEM});
                display_create_fb(h);
            },
            ExitedWithCode(1), fatal_line("display_fb.cpp", cfg->fb_function, escape_regex(c.condition),
                                          std::string(c.call) + ": Cannot allocate memory"));
    }
}

INSTANTIATE_TEST_SUITE_P(EveryStep, DisplayFramebufferFailure,
                         testing::ValuesIn(fatal_conditions_of(fatal_step::framebuffer)),
                         [](const testing::TestParamInfo<fatal_condition>& info) {
                             return std::string(info.param.request);
                         });

TEST(DisplayFlip, CommitSendsTheWholeStateInObjectOrder)
{
    display_handle h = ready(fake_default_device(), PANELSHOW_DISPLAY);
    const display_fb fb = display_create_fb(h);
    display_flip(h, fb.fb_id);

    const auto commits = calls_of(fake_req::ATOMIC);
    ASSERT_EQ(commits.size(), 1u);
    const fake_call& c = *commits[0];
    const auto req = arg_of<drm_mode_atomic>(c);
    EXPECT_EQ(req.flags, 0x601u);
    EXPECT_EQ(req.count_objs, 3u);
    EXPECT_EQ(req.reserved, 0u);
    EXPECT_EQ(req.user_data, 0u);
    EXPECT_EQ(c.objs, (std::vector<uint32_t>{41, 31, 61}));
    EXPECT_EQ(c.counts, (std::vector<uint32_t>{1, 2, 11}));
    EXPECT_EQ(c.props, std::vector<uint32_t>(h.prop_id, h.prop_id + PROP_MAX));
    EXPECT_EQ(c.values[PROP_FB_ID], fb.fb_id);
    EXPECT_EQ(c.values[PROP_IN_FENCE_FD], ~uint64_t{0});
    EXPECT_EQ(c.values[PROP_MODE_ID], h.prop_value[PROP_MODE_ID]);
}

TEST(DisplayFlip, TenFailuresThenSuccessPrintNothing)
{
    display_handle h = ready(fake_default_device(), PANELCOLOR_DISPLAY);
    const display_fb fb = display_create_fb(h);
    fake_drm_fail({fake_req::ATOMIC, 1, 10, EBUSY});
    CaptureStdout();
    display_flip(h, fb.fb_id);
    EXPECT_EQ(GetCapturedStdout(), "");
    const auto commits = calls_of(fake_req::ATOMIC);
    ASSERT_EQ(commits.size(), 11u);
    for (const fake_call* c : commits)
        EXPECT_EQ(c->values, commits[0]->values) << "every attempt sends the same request";
}

// A commit that keeps failing ends the process after the attempts of its program:
// the reason is the last attempt's errno, and the "Tried" report comes only from
// a program that retries.
TEST(DisplayFlip, FailedCommitsStopAfterTheProgramsAttempts)
{
    const struct {
        const char* what;
        const display_config* cfg;
        const char* stdout_mode; // "r": the "Tried" line cannot be written, which sets errno again
        std::vector<fake_failure> failures;
        std::string reason;
        std::string out;
        size_t attempts;
    } cases[] = {
        {"eleven failed attempts", &PANELDEFECT_DISPLAY, "w", {{fake_req::ATOMIC, 1, 11, EINVAL}},
         "DRM_IOCTL_MODE_ATOMIC: Invalid argument", TRIED_LINE, 11},
        {"ten busy, then refused, report unwritable", &PANELCOLOR_DISPLAY, "r",
         {{fake_req::ATOMIC, 1, 10, EBUSY}, {fake_req::ATOMIC, 11, 1, EACCES}},
         std::string("DRM_IOCTL_MODE_ATOMIC: Permission denied") + REASON_NEXT +
             "/dev/dri/card0 is in use by another program",
         "", 11},
        {"a single-attempt program", &PANELSHOW_DISPLAY, "w", {{fake_req::ATOMIC, 1, 1, EINVAL}},
         "DRM_IOCTL_MODE_ATOMIC: Invalid argument", "", 1},
    };
    for (const auto& c : cases) {
        request_log out;
        request_log log;
        EXPECT_EXIT(
            {
                fake_device dev = fake_default_device();
                dev.log_path = log.path;
                display_handle h = ready(dev, *c.cfg);
                const display_fb fb = display_create_fb(h);
                std::freopen(out.path.c_str(), c.stdout_mode, stdout);
                for (const fake_failure& f : c.failures)
                    fake_drm_fail(f);
                display_flip(h, fb.fb_id);
            },
            ExitedWithCode(1), fatal_line("display_fb.cpp", "display_flip", "!ret", c.reason))
            << c.what;
        EXPECT_EQ(out.text(), c.out) << c.what;
        const std::string text = log.text();
        size_t attempts = 0;
        for (size_t at = text.find("ATOMIC"); at != std::string::npos; at = text.find("ATOMIC", at + 1))
            ++attempts;
        EXPECT_EQ(attempts, c.attempts) << c.what << "\n" << text;
    }
}

TEST(DisplayFlip, ThousandsOfCommitsNeverFillTheEventQueue)
{
    // The kernel holds 4096 bytes of unread events per open file and refuses
    // event-requesting commits beyond that.
    display_handle h = ready(fake_default_device(), PANELCOLOR_DISPLAY);
    const display_fb fb = display_create_fb(h);
    CaptureStdout();
    for (int i = 0; i < 1000; ++i)
        display_flip(h, fb.fb_id);
    EXPECT_EQ(GetCapturedStdout(), "");
    size_t failed = 0;
    for (const fake_call* c : calls_of(fake_req::ATOMIC))
        failed += !c->ok;
    EXPECT_EQ(failed, 0u);
}

TEST(DisplayFlip, WaitsForThePendingFlipInsteadOfCommittingIntoBusy)
{
    fake_device dev = fake_default_device();
    dev.busy_until_event_read = true;
    display_handle h = ready(dev, PANELDEFECT_DISPLAY);
    const display_fb fb = display_create_fb(h);
    for (int i = 0; i < 20; ++i)
        display_flip(h, fb.fb_id);
    const auto commits = calls_of(fake_req::ATOMIC);
    EXPECT_EQ(commits.size(), 20u) << "no commit may need a retry";
    for (const fake_call* c : commits)
        EXPECT_TRUE(c->ok);
}

TEST(DisplayFlip, MissingFlipEventDoesNotHangTheNextCommit)
{
    fake_device dev = fake_default_device();
    dev.flip_events = false;
    display_handle h = ready(dev, PANELCOLOR_DISPLAY);
    const display_fb fb = display_create_fb(h);
    display_flip(h, fb.fb_id);
    display_flip(h, fb.fb_id); // waits at most PENDING_FLIP_WAIT_MS, then commits
    EXPECT_EQ(calls_of(fake_req::ATOMIC).size(), 2u);
}

TEST(DisplayWaitFlip, SkipsVblankEventsInTheSameRead)
{
    display_handle h = ready(fake_default_device(), PANELSHOW_DISPLAY);
    std::vector<uint8_t> bytes = event_bytes(DRM_EVENT_VBLANK);
    const std::vector<uint8_t> flip = event_bytes(DRM_EVENT_FLIP_COMPLETE);
    bytes.insert(bytes.end(), flip.begin(), flip.end());
    fake_drm_push_event_bytes(bytes);
    EXPECT_EQ(display_wait_flip(h), 0);
    EXPECT_EQ(calls_of(fake_req::READ).size(), 1u);
}

TEST(DisplayWaitFlip, OnlyVblankEventsMeanWaitingAgain)
{
    display_handle h = ready(fake_default_device(), PANELSHOW_DISPLAY);
    fake_drm_push_event_bytes(event_bytes(DRM_EVENT_VBLANK));
    fake_drm_push_event_bytes_after_read(event_bytes(DRM_EVENT_FLIP_COMPLETE));
    EXPECT_EQ(display_wait_flip(h), 0);
    EXPECT_EQ(calls_of(fake_req::READ).size(), 2u);
}

TEST(DisplayWaitFlip, PollAndReadFailuresAreReportedAndReturnMinusOne)
{
    display_handle h = ready(fake_default_device(), PANELSHOW_DISPLAY);
    fake_drm_fail({fake_req::POLL, 1, 1, EINTR});
    CaptureStderr();
    EXPECT_EQ(display_wait_flip(h), -1);
    EXPECT_EQ(GetCapturedStderr(), "poll: Interrupted system call\n");

    h = ready(fake_default_device(), PANELSHOW_DISPLAY);
    fake_drm_push_event_bytes(event_bytes(DRM_EVENT_FLIP_COMPLETE));
    fake_drm_fail({fake_req::READ, 1, 1, EIO});
    CaptureStderr();
    EXPECT_EQ(display_wait_flip(h), -1);
    EXPECT_EQ(GetCapturedStderr(), "read drm event: Input/output error\n");

    fake_device gone = fake_default_device();
    gone.poll_revents = POLLERR;
    h = ready(gone, PANELSHOW_DISPLAY);
    CaptureStderr();
    EXPECT_EQ(display_wait_flip(h), -1) << "a device that reports only POLLERR";
    EXPECT_EQ(GetCapturedStderr(), "poll: the device reported an error\n");
}

} // namespace
