// display_init against the fake device: requests, fields, choices and diagnostics.
#include "display/display.h"
#include "display/refusal.h"
#include "display_test_support.h"
#include "support/fatal_conditions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <fstream>

using testing::ExitedWithCode;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

display_handle init_with(const fake_device& dev, const display_config& cfg, uint8_t mode_sel = 0,
                         std::string* out = nullptr)
{
    fake_drm_reset(dev);
    display_handle h{};
    CaptureStdout();
    display_init(h, cfg, mode_sel);
    const std::string text = GetCapturedStdout();
    if (out)
        *out = text;
    return h;
}

const fake_call* nth(fake_req r, int n)
{
    for (const fake_call& c : fake_drm_calls())
        if (c.request == r && n-- == 0)
            return &c;
    return nullptr;
}

int count_of(fake_req r)
{
    int n = 0;
    for (const fake_call& c : fake_drm_calls())
        n += c.request == r;
    return n;
}

drm_mode_modeinfo blob_mode(const display_handle& h)
{
    drm_mode_modeinfo m{};
    const std::vector<uint8_t> blob = fake_blob(static_cast<uint32_t>(h.prop_value[PROP_MODE_ID]));
    EXPECT_EQ(blob.size(), sizeof m);
    std::memcpy(&m, blob.data(), std::min(blob.size(), sizeof m));
    return m;
}

TEST(DisplayInitRequests, IssuedInOrderWithTheFieldsTheKernelNeeds)
{
    init_with(fake_default_device(), PANELSHOW_DISPLAY);
    const auto& calls = fake_drm_calls();
    std::vector<fake_req> head = requests_of(calls);
    head.resize(10);
    EXPECT_EQ(names_of(head), "OPEN SET_CLIENT_CAP SET_CLIENT_CAP GETRESOURCES GETRESOURCES "
                              "GETPLANERESOURCES GETPLANERESOURCES GETCONNECTOR GETCONNECTOR "
                              "GETENCODER ");

    const auto atomic = arg_of<drm_set_client_cap>(*nth(fake_req::SET_CLIENT_CAP, 0));
    const auto planes = arg_of<drm_set_client_cap>(*nth(fake_req::SET_CLIENT_CAP, 1));
    EXPECT_EQ(atomic.capability, 3u);
    EXPECT_EQ(atomic.value, 1u);
    EXPECT_EQ(planes.capability, 2u);
    EXPECT_EQ(planes.value, 1u);

    // Every list: first its length, then room for exactly that many.
    const auto counts = arg_of<drm_mode_card_res>(*nth(fake_req::GETRESOURCES, 0));
    EXPECT_EQ(counts.count_crtcs | counts.count_connectors, 0u);
    const auto res = arg_of<drm_mode_card_res>(*nth(fake_req::GETRESOURCES, 1));
    EXPECT_EQ(res.count_crtcs, 2u);
    EXPECT_EQ(res.count_connectors, 1u);
    EXPECT_EQ(res.count_fbs, 0u);
    EXPECT_EQ(res.count_encoders, 0u);
    EXPECT_EQ(res.fb_id_ptr, 0u);
    EXPECT_EQ(res.encoder_id_ptr, 0u);

    EXPECT_EQ(arg_of<drm_mode_get_plane_res>(*nth(fake_req::GETPLANERESOURCES, 0)).count_planes, 0u);
    EXPECT_EQ(arg_of<drm_mode_get_plane_res>(*nth(fake_req::GETPLANERESOURCES, 1)).count_planes, 2u);

    const auto probe = arg_of<drm_mode_get_connector>(*nth(fake_req::GETCONNECTOR, 0));
    EXPECT_EQ(probe.connector_id, 41u);
    EXPECT_EQ(probe.count_modes | probe.count_encoders | probe.count_props, 0u);
    EXPECT_EQ(probe.modes_ptr | probe.encoders_ptr | probe.props_ptr, 0u);
    const auto full = arg_of<drm_mode_get_connector>(*nth(fake_req::GETCONNECTOR, 1));
    EXPECT_EQ(full.count_modes, 3u);
    EXPECT_EQ(full.count_encoders, 1u);
    EXPECT_EQ(full.count_props, 0u);
    EXPECT_EQ(full.props_ptr, 0u);

    const auto enc = arg_of<drm_mode_get_encoder>(*nth(fake_req::GETENCODER, 0));
    EXPECT_EQ(enc.encoder_id, 51u);

    // Properties: connector, CRTC, plane, each counted, then fetched whole.
    const uint32_t types[] = {DRM_MODE_OBJECT_CONNECTOR, DRM_MODE_OBJECT_CRTC, DRM_MODE_OBJECT_PLANE};
    const uint32_t ids[] = {41, 31, 61};
    for (int i = 0; i < 3; ++i) {
        const auto c = arg_of<drm_mode_obj_get_properties>(*nth(fake_req::OBJ_GETPROPERTIES, 2 * i));
        const auto p = arg_of<drm_mode_obj_get_properties>(*nth(fake_req::OBJ_GETPROPERTIES, 2 * i + 1));
        EXPECT_EQ(c.count_props, 0u) << "object " << i;
        EXPECT_EQ(p.obj_type, types[i]) << "object " << i;
        EXPECT_EQ(p.obj_id, ids[i]) << "object " << i;
        EXPECT_GE(p.count_props, i == 0 ? 1u : i == 1 ? 2u : 11u) << "object " << i;
    }
    EXPECT_EQ(calls.back().request, fake_req::CREATEPROPBLOB);
    EXPECT_EQ(arg_of<drm_mode_create_blob>(calls.back()).length, 68u);
}

TEST(DisplayInitRequests, RequestInterruptedBySignalIsIssuedAgain)
{
    fake_drm_reset(fake_default_device());
    fake_drm_fail({fake_req::GETENCODER, 1, 1, EINTR});
    display_handle h{};
    display_init(h, LIGHTSOUT_DISPLAY);
    EXPECT_EQ(count_of(fake_req::GETENCODER), 2);
    EXPECT_EQ(h.encoder_id, 51u);
}

TEST(DisplayInitHandle, HoldsTheWholeCommitState)
{
    const display_handle h = init_with(fake_default_device(), PANELSHOW_DISPLAY);
    EXPECT_EQ(h.connector_id, 41u);
    EXPECT_EQ(h.encoder_id, 51u);
    EXPECT_EQ(h.crtc_id, 31u);
    EXPECT_EQ(h.plane_id, 61u);
    EXPECT_GE(h.fd, 0);

    const struct {
        prop_index index;
        uint32_t type;
        const char* name;
        uint64_t value;
    } expected[] = {
        {PROP_CONNECTOR_CRTC_ID, DRM_MODE_OBJECT_CONNECTOR, "CRTC_ID", 31},
        {PROP_ACTIVE, DRM_MODE_OBJECT_CRTC, "ACTIVE", 1},
        {PROP_FB_ID, DRM_MODE_OBJECT_PLANE, "FB_ID", 0},
        {PROP_IN_FENCE_FD, DRM_MODE_OBJECT_PLANE, "IN_FENCE_FD", 0},
        {PROP_PLANE_CRTC_ID, DRM_MODE_OBJECT_PLANE, "CRTC_ID", 31},
        {PROP_CRTC_X, DRM_MODE_OBJECT_PLANE, "CRTC_X", 0},
        {PROP_CRTC_Y, DRM_MODE_OBJECT_PLANE, "CRTC_Y", 0},
        {PROP_CRTC_W, DRM_MODE_OBJECT_PLANE, "CRTC_W", 4320},
        {PROP_CRTC_H, DRM_MODE_OBJECT_PLANE, "CRTC_H", 2160},
        {PROP_SRC_X, DRM_MODE_OBJECT_PLANE, "SRC_X", 0},
        {PROP_SRC_Y, DRM_MODE_OBJECT_PLANE, "SRC_Y", 0},
        {PROP_SRC_W, DRM_MODE_OBJECT_PLANE, "SRC_W", 4320ull << 16},
        {PROP_SRC_H, DRM_MODE_OBJECT_PLANE, "SRC_H", 2160ull << 16},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(h.prop_id[e.index], fake_prop_id(e.type, e.name)) << e.name << " slot " << e.index;
        EXPECT_EQ(h.prop_value[e.index], e.value) << e.name << " slot " << e.index;
    }
    EXPECT_EQ(h.prop_id[PROP_MODE_ID], fake_prop_id(DRM_MODE_OBJECT_CRTC, "MODE_ID"));
    const drm_mode_modeinfo m = blob_mode(h);
    EXPECT_EQ(m.hdisplay, 4320);
    EXPECT_EQ(m.vdisplay, 2160);
    EXPECT_EQ(m.vrefresh, 75u);
}

TEST(DisplayInitModeChoice, IndexPicksThatEntryAndSizesTheFrame)
{
    std::string out;
    const display_handle h = init_with(fake_default_device(), PANELSHOW_DISPLAY, 1, &out);
    EXPECT_EQ(out, "Targeting mode[1] (1920 x 1080 @ 60Hz)\n");
    EXPECT_EQ(MODE_WIDTH, 1920);
    EXPECT_EQ(MODE_HEIGHT, 1080);
    EXPECT_EQ(h.prop_value[PROP_SRC_W], 1920ull << 16);
    EXPECT_EQ(blob_mode(h).hdisplay, 1920);
}

TEST(DisplayInitModeChoice, PanelcolorListsEveryModeBeforeTargetingAndBeforeTheEncoder)
{
    std::string out;
    init_with(fake_default_device(), PANELCOLOR_DISPLAY, 0, &out);
    EXPECT_EQ(out, "  Available modes:\n"
                   "    mode[0]: 4320x2160 (4320 x 2160 @ 75Hz)\n"
                   "    mode[1]: 1920x1080 (1920 x 1080 @ 60Hz)\n"
                   "    mode[2]: 3840x2160 (3840 x 2160 @ 30Hz)\n"
                   "Targeting mode[0] (4320 x 2160 @ 75Hz)\n");
}

TEST(DisplayInitModeChoice, ConnectorWithMoreModesAndEncodersThanAnyFixedRoom)
{
    std::string out;
    const display_handle h = init_with(fake_crowded_device(100, 20), PANELCOLOR_DISPLAY, 99, &out);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 102) << out;
    EXPECT_NE(out.find("    mode[0]: 1000x500 (1000 x 500 @ 60Hz)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("    mode[99]: 1099x599 (1099 x 599 @ 159Hz)\n"
                       "Targeting mode[99] (1099 x 599 @ 159Hz)\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(blob_mode(h).hdisplay, 1099);
    EXPECT_EQ(h.encoder_id, 51u) << "the first of the connector's 20 encoders";
}

TEST(DisplayInitModeChoice, SizeSearchTakesTheFirstConnectorWithTheModeAndReadsNoFurther)
{
    fake_device dev;
    std::vector<fake_failure> none;
    ASSERT_TRUE(fake_drm_configure(
        "conn=3840x2160@60,1920x1080@60;conn=1920x1080@60,4320x2160@30,4320x2160@75;conn=4320x2160@75",
        dev, none));
    dev = [&] {
        fake_device d = fake_default_device();
        d.connectors = dev.connectors;
        d.encoders = dev.encoders;
        return d;
    }();
    std::string out;
    const display_handle h = init_with(dev, PANELDEFECT_DISPLAY, 0, &out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(h.connector_id, 42u);
    EXPECT_EQ(blob_mode(h).vrefresh, 30u) << "the first 4320 x 2160 mode listed wins";
    EXPECT_EQ(count_of(fake_req::GETCONNECTOR), 4) << "the third connector must not be read";
}

TEST(DisplayInitModeChoice, EncoderAndCrtcFallbacks)
{
    fake_device dev = fake_default_device();
    dev.crtcs = {31, 32, 33};
    dev.connectors[0].encoder_id = 0;
    dev.connectors[0].encoders = {57, 51};
    dev.encoders = {{57, 0, 0b0100}, {51, 31, 1}};
    const display_handle h = init_with(dev, PANELSHOW_DISPLAY);
    EXPECT_EQ(h.encoder_id, 57u) << "no current encoder: the first of the connector's list";
    EXPECT_EQ(h.crtc_id, 33u) << "no current CRTC: lowest bit of possible_crtcs";
    EXPECT_EQ(h.prop_value[PROP_CONNECTOR_CRTC_ID], 33u);
    EXPECT_EQ(h.prop_value[PROP_PLANE_CRTC_ID], 33u);
}

// Planes that belong to one CRTC each, the encoder on the second CRTC: the first
// plane cannot drive it (the fake refuses such a commit, as the kernel does).
fake_device one_plane_per_crtc()
{
    fake_device dev = fake_default_device();
    dev.encoders[0].crtc_id = 32;
    dev.planes[0].possible_crtcs = 0b01;
    dev.planes[1].possible_crtcs = 0b10;
    return dev;
}

TEST(DisplayInitPlaneChoice, FirstPlaneThatCanDriveTheCrtcIsChosenAndItsCommitAccepted)
{
    display_handle h = init_with(one_plane_per_crtc(), PANELSHOW_DISPLAY);
    EXPECT_EQ(h.crtc_id, 32u);
    EXPECT_EQ(h.plane_id, 62u);
    EXPECT_EQ(h.prop_id[PROP_FB_ID], fake_prop_id(DRM_MODE_OBJECT_PLANE, "FB_ID"));
    EXPECT_EQ(arg_of<drm_mode_obj_get_properties>(*nth(fake_req::OBJ_GETPROPERTIES, 5)).obj_id, 62u)
        << "the plane's properties are those of the chosen plane";
    const display_fb fb = display_create_fb(h);
    display_flip(h, fb.fb_id);
    EXPECT_TRUE(fake_drm_calls().back().ok) << "the commit of the chosen plane is accepted";
}

// display_init on `dev` ends the process: status 1, its diagnostic and the reason.
void expect_init_stops(const fake_device& dev, const std::string& condition_regex,
                       const std::string& reason, const display_config& cfg = PANELSHOW_DISPLAY)
{
    EXPECT_EXIT(
        {
            fake_drm_reset(dev);
            display_handle h{};
            display_init(h, cfg);
        },
        ExitedWithCode(1), fatal_line("display_init.cpp", "display_init", condition_regex, reason))
        << reason;
}

TEST(DisplayInitPlaneChoice, NoPlaneForTheCrtcStopsSayingSo)
{
    fake_device dev = one_plane_per_crtc();
    dev.planes[1].possible_crtcs = 0b01;
    expect_init_stops(dev, "plane_id != 0", "none of the 2 planes can drive CRTC 32");
}

TEST(DisplayRefusal, HoldersAreTheOtherProcessesWithTheDeviceOpen)
{
    char root[] = "/tmp/fake-proc-XXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    const std::string proc = root;
    const std::string device = proc + "/card0";
    std::ofstream(device).put('x');
    std::ofstream(proc + "/other").put('x');
    // pid, name, what its descriptor 3 is open on
    const struct {
        std::string pid, comm, target;
    } procs[] = {{"412", "panelshow", device},
                 {"77", "weston", device},
                 {std::to_string(getpid()), "test_display", device}, // ourselves: left out
                 {"90", "bash", proc + "/other"},
                 {"self", "self", device}};
    for (const auto& p : procs) {
        const std::string dir = proc + "/" + p.pid;
        ASSERT_EQ(system(("mkdir -p " + dir + "/fd").c_str()), 0);
        std::ofstream(dir + "/comm") << p.comm << "\n";
        ASSERT_EQ(symlink(p.target.c_str(), (dir + "/fd/3").c_str()), 0);
    }
    const int fd = open(device.c_str(), O_RDONLY);
    char text[256];
    describe_holders(fd, proc.c_str(), text, sizeof text);
    const std::string said = text;
    EXPECT_TRUE(said == "/dev/dri/card0 is in use by: panelshow (pid 412), weston (pid 77)" ||
                said == "/dev/dri/card0 is in use by: weston (pid 77), panelshow (pid 412)")
        << said;

    const int other = open((proc + "/other").c_str(), O_RDONLY);
    unlink((proc + "/90/fd/3").c_str());
    describe_holders(other, proc.c_str(), text, sizeof text);
    EXPECT_STREQ(text, "/dev/dri/card0 is in use by another program");
    close(fd);
    close(other);
    ASSERT_EQ(system(("rm -rf " + proc).c_str()), 0);
}

TEST(DisplayInitProperties, NamesMatchWholeAndExactlyAndLaterDuplicatesWin)
{
    fake_device dev = fake_default_device();
    dev.extra_props = {"CRTC_ID_EXTRA", "CRTC", "crtc_id", "SRC_", "FB_ID"};
    const display_handle h = init_with(dev, PANELSHOW_DISPLAY);
    EXPECT_EQ(h.prop_id[PROP_CONNECTOR_CRTC_ID], fake_prop_id(DRM_MODE_OBJECT_CONNECTOR, "CRTC_ID"));
    EXPECT_EQ(h.prop_id[PROP_PLANE_CRTC_ID], fake_prop_id(DRM_MODE_OBJECT_PLANE, "CRTC_ID"));
    EXPECT_NE(h.prop_id[PROP_CONNECTOR_CRTC_ID], h.prop_id[PROP_PLANE_CRTC_ID]);
    // The decoy "FB_ID" comes after the real one in the plane's list.
    const uint32_t plane_props = 12;
    EXPECT_EQ(h.prop_id[PROP_FB_ID], 300 + plane_props + 4);
}

// ---- failures ----

// A request of display_init failed at one of its occurrences; the diagnostic and
// the call its reason names are the request's row in FATAL_CONDITIONS.
struct init_failure_case {
    fake_req request;
    uint32_t occurrence;
};

class DisplayInitFailure : public testing::TestWithParam<init_failure_case> {};

TEST_P(DisplayInitFailure, EndsWithItsDiagnosticAndStatusOne)
{
    const init_failure_case c = GetParam();
    const fatal_condition* f = fatal_condition_of(fake_req_name(c.request));
    ASSERT_TRUE(f && f->step == fatal_step::display_init) << fake_req_name(c.request);
    EXPECT_EXIT(
        {
            fake_drm_reset(fake_default_device());
            fake_drm_fail({c.request, c.occurrence, 1, EIO});
            display_handle h{};
            display_init(h, PANELSHOW_DISPLAY, 0);
        },
        ExitedWithCode(1), fatal_line("display_init.cpp", "display_init", escape_regex(f->condition),
                                      std::string(f->call) + ": Input/output error"));
}

INSTANTIATE_TEST_SUITE_P(
    EveryRequest, DisplayInitFailure,
    testing::Values(init_failure_case{fake_req::OPEN, 1}, init_failure_case{fake_req::SET_CLIENT_CAP, 1},
                    init_failure_case{fake_req::SET_CLIENT_CAP, 2}, init_failure_case{fake_req::GETRESOURCES, 1},
                    init_failure_case{fake_req::GETPLANERESOURCES, 1},
                    init_failure_case{fake_req::GETCONNECTOR, 1}, init_failure_case{fake_req::GETCONNECTOR, 2},
                    init_failure_case{fake_req::GETENCODER, 1}, init_failure_case{fake_req::GETPLANE, 1},
                    init_failure_case{fake_req::OBJ_GETPROPERTIES, 1},
                    init_failure_case{fake_req::OBJ_GETPROPERTIES, 3},
                    init_failure_case{fake_req::GETPROPERTY, 1}, init_failure_case{fake_req::GETPROPERTY, 9},
                    init_failure_case{fake_req::CREATEPROPBLOB, 1}),
    [](const testing::TestParamInfo<init_failure_case>& info) {
        return std::string(fake_req_name(info.param.request)) + "_" +
               std::to_string(info.param.occurrence);
    });

TEST(DisplayInitFailures, NoPlanesStopBeforeAnyConnectorIsRead)
{
    request_log log;
    fake_device dev = fake_default_device();
    dev.planes.clear();
    dev.log_path = log.path;
    expect_init_stops(dev, "!ret && plane_res\\.count_planes >= 1", "the device reports no planes");
    EXPECT_EQ(log.text().find("GETCONNECTOR"), std::string::npos) << log.text();
}

TEST(DisplayInitFailures, NoConnectorMeansNoMatchingModeInEveryForm)
{
    fake_device dev = fake_default_device();
    dev.connectors.clear();
    for (const display_config* cfg : {&PANELSHOW_DISPLAY, &PANELCOLOR_DISPLAY, &PANELDEFECT_DISPLAY})
        expect_init_stops(dev, "!\"could not find matching mode\"", "the device lists no connector",
                          *cfg);
}

TEST(DisplayInitFailures, SizeSearchWithoutTheModeReadsEveryConnectorThenStops)
{
    request_log log;
    fake_device dev = fake_default_device();
    fake_device parsed;
    std::vector<fake_failure> none;
    fake_drm_configure("conn=3840x2160@60;conn=4320x2161@75", parsed, none);
    dev.connectors = parsed.connectors;
    dev.encoders = parsed.encoders;
    dev.log_path = log.path;
    expect_init_stops(dev, "!\"could not find matching mode\"",
                      "none of the 2 connectors offers a 4320 x 2160 mode", PANELDEFECT_DISPLAY);
    std::string text = log.text();
    size_t reads = 0;
    for (size_t at = 0; (at = text.find("GETCONNECTOR ok", at)) != std::string::npos; ++at)
        ++reads;
    EXPECT_EQ(reads, 4u) << text;
}

TEST(DisplayInitFailures, MissingPlanePropertyStopsAfterTheBlobIsCreated)
{
    request_log log;
    fake_device dev = fake_default_device();
    dev.missing_props = {"IN_FENCE_FD"};
    dev.log_path = log.path;
    expect_init_stops(dev, "prop_found == \\(\\(1 << PROP_MAX\\) - 1\\)",
                      "properties missing: plane IN_FENCE_FD");
    EXPECT_NE(log.text().find("CREATEPROPBLOB ok"), std::string::npos) << log.text();
}

TEST(DisplayInitFailures, ModeIndexBeyondTheListNamesIndexAndCount)
{
    request_log out;
    EXPECT_EXIT(
        {
            std::freopen(out.path.c_str(), "w", stdout);
            fake_drm_reset(fake_default_device());
            display_handle h{};
            display_init(h, PANELSHOW_DISPLAY, 3);
        },
        ExitedWithCode(1),
        fatal_line("display_init.cpp", "display_init", "mode_sel < chosen\\.mode_count",
                   "the connector has no mode 3: it reports 3"));
    EXPECT_EQ(out.text(), "mode index 3 is out of range: the connector reports 3 modes\n");
}

TEST(DisplayInitFailures, EncoderWithoutAnyPossibleCrtcIsRefused)
{
    fake_device dev = fake_default_device();
    dev.encoders[0].crtc_id = 0;
    dev.encoders[0].possible_crtcs = 0;
    expect_init_stops(dev, "enc\\.possible_crtcs != 0", "encoder 51 has no CRTC and can drive none");
}

} // namespace
