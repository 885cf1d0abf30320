// paneldefect as a user runs it: keys on a terminal, the fake DRM device (4320 x
// 2160, rows padded), the backlight's brightness file.
#include "cli/paneldefect_args.h"
#include "keys/paneldefect_keys.h"
#include "support/interactive_program.h"
#include "support/printed.h"

#include <csignal>
#include <regex>

namespace {

constexpr int W = 4320;
constexpr int H = 2160;
const std::string DEVICE = "pitch_padding=128";

std::string help_text()
{
    return printed([](FILE* out) {
        print_paneldefect_help(out, built_program("paneldefect").c_str());
    });
}

std::string status(const defect_colours& c)
{
    return printed([&](FILE* out) { print_defect_status(out, c); });
}

// The defect pattern as the panels should show it, written out pixel by pixel.
auto defects(uint32_t background, uint32_t zone_a, uint32_t zone_b)
{
    return [=](int x, int y) {
        for (int panel_x : {0, 2160}) {
            const int px = x - panel_x;
            if ((px == 1080 && y == 1080) || (px == 1080 && y == 570))
                return zone_a;
            if ((px == 540 && y == 1080) || (px == 1620 && y == 1080) || (px == 1080 && y == 1620))
                return zone_b;
        }
        return background;
    };
}

uint32_t grey(uint8_t v)
{
    return xr24(v, v, v);
}

running_program start(fake_panel& panel, const std::vector<std::string>& args = {},
                      bool frame = true)
{
    return start_on_panel("paneldefect", args, panel, {DEVICE, frame});
}

TEST(PaneldefectCommandLine, OtherCountsPrintHelpAndEndBeforeTheDevice)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"1"}, {"1", "2"}, {"1", "2", "3", "4"}})
        expect_text_only("paneldefect", args, DEVICE, help_text());
}

TEST(PaneldefectStartUp, HelpThenBrightPresetAndBacklightOnThenOff)
{
    fake_panel panel;
    running_program p = start(panel);
    ASSERT_TRUE(panel.wait_commits(1));
    expect_frame(panel.frame_path(), W, H, defects(grey(0), grey(45), grey(109)), "start-up");
    const finished_run r = enter_and_finish(p);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, help_text() + status(PRESET_BRIGHT_DEFECT) + "\n" + ENDING);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(panel.backlight(), "255\n0\n");
}

TEST(PaneldefectStartUp, ThreeValuesSetZoneAOnly)
{
    fake_panel panel;
    running_program p = start(panel, {"300", "0", "0"});
    ASSERT_TRUE(panel.wait_commits(1));
    expect_frame(panel.frame_path(), W, H, defects(grey(0), xr24(44, 0, 0), grey(109)), "300 0 0");
    const finished_run r = enter_and_finish(p);
    EXPECT_EQ(r.out, status({{0, 0, 0}, {44, 0, 0}, {109, 109, 109}}) + "\n" + ENDING)
        << "no help text with values";
}

TEST(PaneldefectKeysRun, ZoneBStepAndBackgroundWhite)
{
    fake_panel panel;
    running_program p = start(panel, {"0x10", "020", "16"});
    ASSERT_TRUE(panel.wait_commits(1));
    ASSERT_NO_FATAL_FAILURE(expect_frame_after(p, panel, "9q", 2, W, H,
                                               defects(grey(0), grey(16), grey(113)), "after 9 q"));
    ASSERT_NO_FATAL_FAILURE(expect_frame_after(p, panel, "01", 3, W, H,
                                               defects(grey(255), grey(16), grey(113)), "after 0 1"));
    const finished_run r = enter_and_finish(p);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, status({{0, 0, 0}, {16, 16, 16}, {109, 109, 109}}) +
                         "\nAdjusting zone B defect pixel\n" + "\n" +
                         status({{0, 0, 0}, {16, 16, 16}, {113, 113, 113}}) +
                         "\nAdjusting background pixel values\n" + "\n" +
                         status({{255, 255, 255}, {16, 16, 16}, {113, 113, 113}}) + "\n" + ENDING);
}

TEST(PaneldefectKeysRun, PresetKeepsTheSelectedBackground)
{
    fake_panel panel;
    running_program p = start(panel, {"1", "2", "3"});
    ASSERT_TRUE(panel.wait_commits(1));
    ASSERT_NO_FATAL_FAILURE(expect_frame_after(p, panel, "0m", 2, W, H,
                                               defects(grey(255), grey(195), grey(185)), "dark preset"));
    ASSERT_NO_FATAL_FAILURE(expect_frame_after(p, panel, "nq", 4, W, H,
                                               defects(grey(4), grey(45), grey(109)),
                                               "bright preset then q"));
    const finished_run r = enter_and_finish(p);
    EXPECT_TRUE(r.out.ends_with(status({{4, 4, 4}, {45, 45, 45}, {109, 109, 109}}) + "\n" + ENDING))
        << r.out;
}

TEST(PaneldefectKeysRun, SelectionHelpAndUnknownKeysPaintNothing)
{
    fake_panel panel;
    running_program p = start(panel, {"1", "2", "3"}, false);
    ASSERT_TRUE(panel.wait_commits(1));
    send_input(p, "8?h\t");
    send_input(p, "b");
    ASSERT_TRUE(panel.wait_commits(2)) << "b repaints";
    const finished_run r = enter_and_finish(p);
    EXPECT_EQ(r.status, 0);
    const std::string first = status({{0, 0, 0}, {1, 2, 3}, {109, 109, 109}});
    EXPECT_EQ(r.out, first + "\nAdjusting zone A defect pixel\n" + "\n" + help_text() +
                         "\nUnrecognized character 0x68\n" + help_text() +
                         "\nUnrecognized character 0x09\n" + help_text() + "\n" + first + "\n" +
                         ENDING);
    EXPECT_EQ(panel.commits(), 2);
}

TEST(PaneldefectStop, ArrowKeyCtrlCAndEscapeEndInOrder)
{
    for (const std::string& keys : {std::string("\x1b[A"), std::string("\x03")})
        expect_stop_after_first_frame("paneldefect", DEVICE, keys, ENDING);
}

TEST(PaneldefectStop, InterruptDuringSetUpShowsNoFrame)
{
    fake_panel panel;
    const setup_interrupt r = interrupt_during_setup("paneldefect", {"1", "2", "3"}, panel, DEVICE);
    EXPECT_EQ(r.run.status, 0);
    EXPECT_EQ(r.run.out, ENDING);
    EXPECT_NE(r.log.find("ADDFB2 ok"), std::string::npos) << "set-up ran to the end:\n" << r.log;
    EXPECT_EQ(r.log.find("ATOMIC"), std::string::npos) << "a frame was committed";
    EXPECT_EQ(panel.backlight(), "0\n");
}

TEST(PaneldefectCommit, ThousandRedrawsOnABusyDeviceNeverFail)
{
    // Far past the 128 events the kernel queues, with commits refused while an
    // event is unread.
    constexpr int REDRAWS = 1000;
    fake_panel panel;
    running_program p = start_on_panel("paneldefect", {"1", "2", "3"}, panel,
                                          {DEVICE + ";busy", false, stdin_kind::pipe});
    ASSERT_TRUE(panel.wait_commits(1));
    send_input(p, std::string(REDRAWS, 'q'));
    ASSERT_TRUE(panel.wait_commits(REDRAWS + 1, 30000)) << panel.commits() << " commits";
    kill(p.pid, SIGINT);
    const finished_run r = finish(p);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(panel.count_log("ATOMIC fail"), 0);
    const uint8_t a = static_cast<uint8_t>(1 + 4 * REDRAWS);
    EXPECT_TRUE(r.out.ends_with(status({{0, 0, 0},
                                        {a, uint8_t(a + 1), uint8_t(a + 2)},
                                        {109, 109, 109}}) +
                                ENDING))
        << r.out.substr(r.out.size() - 300);
}

TEST(PaneldefectCommit, ElevenFailedAttemptsStopWithTheBacklightUntouched)
{
    fake_panel panel;
    running_program p = start_on_panel("paneldefect", {"1", "2", "3"}, panel,
                                          {DEVICE + ";fail=ATOMIC:1:11"});
    const finished_run r = finish(p);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, status({{0, 0, 0}, {1, 2, 3}, {109, 109, 109}}) +
                         TRIED_LINE);
    EXPECT_TRUE(std::regex_match(r.err, std::regex("paneldefect: src/display/display_fb.cpp:[0-9]+: "
                                                   "display_flip: Assertion `!ret' failed\\.\n"
                                                   "paneldefect: DRM_IOCTL_MODE_ATOMIC: "
                                                   "Invalid argument\n")))
        << r.err;
    EXPECT_EQ(panel.backlight(), "");
}

TEST(PaneldefectDisplay, NoFullSizeModeIsFatal)
{
    fake_panel panel;
    running_program p = start_on_panel("paneldefect", {"1", "2", "3"}, panel,
                                          {"conn=1920x1080@60;conn=3840x2160@30"});
    const finished_run r = finish(p);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("display_init: Assertion `!\"could not find matching mode\"' failed."),
              std::string::npos)
        << r.err;
    EXPECT_EQ(panel.backlight(), "");
}

} // namespace
