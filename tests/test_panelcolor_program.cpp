// panelcolor as a user runs it: keys on a terminal, the fake DRM device, the
// backlight's brightness file.
#include "cli/panelcolor_args.h"
#include "keys/panelcolor_keys.h"
#include "support/interactive_program.h"
#include "support/printed.h"

#include <csignal>
#include <regex>

namespace {

// A small first mode keeps fills and frame files cheap; rows are padded, so a
// fill that ignores the kernel's pitch shows up in the frame.
const std::string SMALL_MODES = "conn=64x32@60,9x3@60,4320x2160@75;pitch_padding=128";
const std::string MODE_LINES = "  Available modes:\n"
                               "    mode[0]: 64x32 (64 x 32 @ 60Hz)\n"
                               "    mode[1]: 9x3 (9 x 3 @ 60Hz)\n"
                               "    mode[2]: 4320x2160 (4320 x 2160 @ 75Hz)\n";

std::string usage_text()
{
    return printed([](FILE* out) {
        print_panelcolor_usage(out, built_program("panelcolor").c_str());
    });
}

std::string status(const pattern_state& s)
{
    return printed([&](FILE* out) { print_panelcolor_status(out, s); }) + "updating display\n";
}


// panelcolor on the small modes, writing each shown frame.
running_program start(fake_panel& panel, const std::vector<std::string>& args)
{
    return start_on_panel("panelcolor", args, panel, {SMALL_MODES, true});
}

// Runs panelcolor, types the keys one after another once the first frame is up
// (a key waiting at the first pass is handled in it), then Enter.
finished_run type_keys(fake_panel& panel, const std::vector<std::string>& args,
                       const std::string& keys, const run_options& opt = {SMALL_MODES})
{
    running_program p = start_on_panel("panelcolor", args, panel, opt);
    EXPECT_TRUE(panel.wait_commits(1)) << "no first frame";
    send_input(p, keys + "\r");
    return finish(p);
}

// The column pattern as the panels should show it.
auto columns(uint32_t even, uint32_t odd, bool left, bool right, int width)
{
    return [=](int x, int) {
        const bool shown = x < width / 2 ? left : right;
        return !shown ? 0xFF000000u : (x % 2 == 0 ? even : odd);
    };
}

TEST(PanelcolorCommandLine, UsageCasesEndWithStatusZeroBeforeTheDevice)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"1", "2", "3", "4", "5"}, {"1", "2", "3", "4", "5", "6", "7"},
          {"1", "2", "3", "4", "5", "6", "7", "8", "9"}, {"-m"}, {"-m", "1", "-m"}})
        expect_text_only("panelcolor", args, SMALL_MODES, usage_text());
}

TEST(PanelcolorCommandLine, NoValuesPrintUsageThenShowWhite)
{
    fake_panel panel;
    const finished_run r = type_keys(panel, {"-m", "1"}, "", {SMALL_MODES, true});
    EXPECT_EQ(r.status, 0);
    const pattern_state white{{255, 255, 255, 7}, {255, 255, 255, 7}, true, true};
    EXPECT_EQ(r.out, usage_text() + MODE_LINES + "Targeting mode[1] (9 x 3 @ 60Hz)\n" +
                         status(white) + ENDING);
    expect_frame(panel.frame_path(), 9, 3, [](int, int) { return 0xFFFFFFFFu; }, "white");
    EXPECT_EQ(panel.backlight(), "255\n0\n");
}

TEST(PanelcolorKeysRun, EnterAsFirstKeyStillDrawsAndLightsThePanels)
{
    fake_panel panel;
    running_program p = start(panel, {"255", "0"});
    send_input(p, "\r"); // long before set-up ends
    const finished_run r = finish(p);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, MODE_LINES + "Targeting mode[0] (64 x 32 @ 60Hz)\n" +
                         status({{255, 255, 255, 7}, {0, 0, 0, 7}, true, true}) + ENDING);
    EXPECT_EQ(panel.commits(), 1);
    expect_frame(panel.frame_path(), 64, 32,
                 columns(0xFFFFFFFF, 0xFF000000, true, true, 64), "255 0");
    EXPECT_EQ(panel.backlight(), "255\n0\n") << "on after the first frame, off at the end";
}

TEST(PanelcolorKeysRun, SixteenIncrementsComeBackToZero)
{
    fake_panel panel;
    const finished_run r = type_keys(panel, {"0"}, std::string(16, 'q'));
    EXPECT_EQ(r.status, 0);
    std::string want = MODE_LINES + "Targeting mode[0] (64 x 32 @ 60Hz)\n";
    for (int i = 0; i <= 16; ++i) {
        const uint8_t v = static_cast<uint8_t>(16 * i);
        want += status({{v, v, v, 7}, {v, v, v, 7}, true, true});
    }
    EXPECT_EQ(r.out, want + ENDING);
    EXPECT_EQ(panel.commits(), 17);
    EXPECT_EQ(panel.backlight(), "255\n0\n") << "later redraws leave the backlight alone";
}

TEST(PanelcolorKeysRun, LockedOddColumnsStayWhileEvenDarken)
{
    fake_panel panel;
    running_program p = start(panel, {"255", "255", "7", "0"});
    ASSERT_TRUE(panel.wait_commits(1));
    ASSERT_NO_FATAL_FAILURE(expect_frame_after(
        p, panel, "a", 2, 64, 32, columns(xr24(0xEF, 0xEF, 0xEF), 0xFFFFFFFF, true, true, 64),
        "after a"));
    const finished_run r = enter_and_finish(p);
    EXPECT_NE(r.out.find(" Odd Cols: R: 0xff (255) (locked)  G: 0xff (255) (locked)  "
                         "B: 0xff (255) (locked)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(status({{0xEF, 0xEF, 0xEF, 7}, {255, 255, 255, 0}, true, true})),
              std::string::npos)
        << r.out;
}

TEST(PanelcolorKeysRun, SpaceSwapsColumnsAndLocks)
{
    fake_panel panel;
    running_program p = start(panel, {"255", "0", "7", "0"});
    ASSERT_TRUE(panel.wait_commits(1));
    ASSERT_NO_FATAL_FAILURE(expect_frame_after(
        p, panel, " ", 2, 64, 32, columns(0xFF000000, 0xFFFFFFFF, true, true, 64), "after space"));
    const finished_run r = enter_and_finish(p);
    EXPECT_NE(r.out.find(status({{0, 0, 0, 0}, {255, 255, 255, 7}, true, true})),
              std::string::npos)
        << r.out;
}

TEST(PanelcolorKeysRun, HalvesBlankAndSwapAcrossTheMiddleColumn)
{
    // The odd width 9 puts the middle column (4, even) in the right half.
    fake_panel panel;
    running_program p = start(panel, {"-m", "1", "0x20", "0x40"});
    const uint32_t even = xr24(0x20, 0x20, 0x20);
    const uint32_t odd = xr24(0x40, 0x40, 0x40);
    struct {
        char key;
        bool left, right;
    } steps[] = {{'t', false, true}, {'\t', true, false}, {'b', false, false},
                 {'5', true, true},  {'g', true, false},  {'g', true, true}};
    int commits = 1;
    ASSERT_TRUE(panel.wait_commits(commits));
    expect_frame(panel.frame_path(), 9, 3, columns(even, odd, true, true, 9), "start");
    for (const auto& s : steps)
        ASSERT_NO_FATAL_FAILURE(expect_frame_after(p, panel, std::string(1, s.key), ++commits, 9, 3,
                                                   columns(even, odd, s.left, s.right, 9),
                                                   "after key " + std::to_string(s.key)));
    const finished_run r = enter_and_finish(p);
    EXPECT_EQ(r.status, 0);
    std::string want = MODE_LINES + "Targeting mode[1] (9 x 3 @ 60Hz)\n" +
                       status({{0x20, 0x20, 0x20, 7}, {0x40, 0x40, 0x40, 7}, true, true});
    for (const auto& s : steps)
        want += status({{0x20, 0x20, 0x20, 7}, {0x40, 0x40, 0x40, 7}, s.left, s.right});
    EXPECT_EQ(r.out, want + ENDING);
}

TEST(PanelcolorKeysRun, FullSizeHalvesMeetAtColumn2160)
{
    fake_panel panel;
    running_program p = start(panel, {"-m", "2", "0", "0", "255", "255", "0", "0"});
    ASSERT_TRUE(panel.wait_commits(1));
    send_input(p, "t");
    ASSERT_TRUE(panel.wait_commits(2));
    const std::string frame = read_file(panel.frame_path());
    ASSERT_EQ(frame.size(), size_t(4320) * 2160 * 4);
    auto pixel = [&](int x, int y) {
        uint32_t w;
        std::memcpy(&w, frame.data() + (size_t(y) * 4320 + x) * 4, 4);
        return w;
    };
    for (int y : {0, 1079, 2159}) {
        EXPECT_EQ(pixel(2158, y), 0xFF000000u) << "left half blanked, row " << y;
        EXPECT_EQ(pixel(2159, y), 0xFF000000u) << "left half blanked, row " << y;
        EXPECT_EQ(pixel(2160, y), 0xFF0000FFu) << "right half starts with the even colour, row " << y;
        EXPECT_EQ(pixel(2161, y), 0xFFFF0000u) << "odd colour, row " << y;
        EXPECT_EQ(pixel(4319, y), 0xFFFF0000u) << "last column is odd, row " << y;
    }
    EXPECT_EQ(enter_and_finish(p).status, 0);
}

TEST(PanelcolorKeysRun, HelpAndUnknownKeysDrawNothing)
{
    fake_panel panel;
    const finished_run r = type_keys(panel, {"1"}, "?Q");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, MODE_LINES + "Targeting mode[0] (64 x 32 @ 60Hz)\n" +
                         status({{1, 1, 1, 7}, {1, 1, 1, 7}, true, true}) + usage_text() +
                         "Unrecognized character 0x51\n" + usage_text() + ENDING);
    EXPECT_EQ(panel.commits(), 1);
}

TEST(PanelcolorKeysRun, EscapeAndArrowKeysStop)
{
    for (const std::string& keys : {std::string("\x1b"), std::string("\x1b[A")})
        expect_stop_after_first_frame("panelcolor", SMALL_MODES, keys,
                                      std::string("updating display\n") + ENDING);
}

TEST(PanelcolorStop, CtrlCOnTheTerminalEndsInOrder)
{
    expect_stop_after_first_frame("panelcolor", SMALL_MODES, "\x03",
                                  std::string("updating display\n") + ENDING);
}

TEST(PanelcolorStop, BackgroundJobDrawsWithoutKeysAndTakesThemInTheForeground)
{
    // The shell's line, which the job leaves alone, then Enter once it is in front.
    expect_stop_after_first_frame("panelcolor", SMALL_MODES, "\n\r", ENDING, true);
}

TEST(PanelcolorStop, ClosedStdinBecomesDevNullAndReadsNoKeys)
{
    fake_panel panel;
    running_program p = start_on_panel("panelcolor", {"7"}, panel,
                                          {SMALL_MODES, false, stdin_kind::closed});
    ASSERT_TRUE(panel.wait_commits(1));
    char fd0[64] = {};
    (void)!readlink(("/proc/" + std::to_string(p.pid) + "/fd/0").c_str(), fd0, sizeof fd0 - 1);
    EXPECT_STREQ(fd0, "/dev/null") << "the device took descriptor 0";
    kill(p.pid, SIGINT);
    const finished_run r = finish(p);
    EXPECT_TRUE(r.out.ends_with(status({{7, 7, 7, 7}, {7, 7, 7, 7}, true, true}) + ENDING));
    EXPECT_EQ(panel.commits(), 1);
}

TEST(PanelcolorStop, InterruptDuringSetUpShowsNoFrame)
{
    fake_panel panel;
    const setup_interrupt r = interrupt_during_setup("panelcolor", {}, panel, SMALL_MODES);
    EXPECT_EQ(r.run.status, 0);
    EXPECT_EQ(r.run.out,
              usage_text() + MODE_LINES + "Targeting mode[0] (64 x 32 @ 60Hz)\n" + ENDING);
    EXPECT_NE(r.log.find("ADDFB2 ok"), std::string::npos) << "set-up ran to the end:\n" << r.log;
    EXPECT_EQ(r.log.find("ATOMIC"), std::string::npos) << "a frame was committed";
    EXPECT_EQ(panel.backlight(), "0\n") << "the backlight was switched on";
}

TEST(PanelcolorCommit, ThousandRedrawsOnABusyDeviceNeverFail)
{
    // Commits are refused while a flip event is unread, and the event queue holds
    // 128 events: both must be handled for every redraw.
    fake_panel panel;
    running_program p = start_on_panel("panelcolor", {"0"}, panel,
                                          {SMALL_MODES + ";busy", false, stdin_kind::pipe});
    std::string keys;
    for (int i = 0; i < 1000; ++i)
        keys += "qa"[i % 2];
    ASSERT_TRUE(panel.wait_commits(1));
    send_input(p, keys);
    ASSERT_TRUE(panel.wait_commits(1001, 30000)) << panel.commits() << " commits";
    kill(p.pid, SIGINT);
    const finished_run r = finish(p);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(panel.count_log("ATOMIC fail"), 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5 + 1001 * 4 + 1);
    EXPECT_TRUE(r.out.ends_with(status({{0, 0, 0, 7}, {0, 0, 0, 7}, true, true}) + ENDING));
}

TEST(PanelcolorCommit, ElevenFailedAttemptsStopWithTheBacklightUntouched)
{
    fake_panel panel;
    running_program p = start_on_panel("panelcolor", {"7"}, panel,
                                          {SMALL_MODES + ";fail=ATOMIC:1:11"});
    const finished_run r = finish(p);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, MODE_LINES + "Targeting mode[0] (64 x 32 @ 60Hz)\n" +
                         status({{7, 7, 7, 7}, {7, 7, 7, 7}, true, true}) +
                         TRIED_LINE);
    EXPECT_TRUE(std::regex_match(r.err, std::regex("panelcolor: src/display/display_fb.cpp:[0-9]+: "
                                                   "display_flip: Assertion `!ret' failed\\.\n"
                                                   "panelcolor: DRM_IOCTL_MODE_ATOMIC: "
                                                   "Invalid argument\n")))
        << r.err;
    EXPECT_EQ(panel.count_log("ATOMIC fail"), 11);
    EXPECT_EQ(panel.backlight(), "") << "a failed display leaves the backlight as it was";
}

TEST(PanelcolorCommit, TenFailedAttemptsThenSuccessCarryOn)
{
    fake_panel panel;
    const finished_run r = type_keys(panel, {"7"}, "", {SMALL_MODES + ";fail=ATOMIC:1:10"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("Tried"), std::string::npos) << r.out;
    EXPECT_EQ(panel.commits(), 1);
    EXPECT_EQ(panel.backlight(), "255\n0\n");
}

} // namespace
