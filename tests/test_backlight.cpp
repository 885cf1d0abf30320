// Backlight operations against a temporary folder that stands in for the sysfs
// device: what each call writes to brightness, what it prints, and which files it
// opens.
#include "common/backlight.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A device folder with a brightness file holding an old level, and max_brightness
// when asked for.
class BacklightDevice : public testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/kdt_backlight_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        write_file("brightness", OLD_LEVEL);
    }
    void TearDown() override { fs::remove_all(dir_); }

    void write_file(const char* name, const std::string& text)
    {
        std::ofstream(dir_ / name) << text;
    }
    void set_max(const std::string& text) { write_file("max_brightness", text); }

    std::string brightness() const
    {
        std::ifstream in(dir_ / "brightness");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // Runs call and returns what it printed on stdout.
    std::string stdout_of(const std::function<void()>& call)
    {
        std::fflush(stdout);
        testing::internal::CaptureStdout();
        call();
        return testing::internal::GetCapturedStdout();
    }

    // Whether call opened max_brightness (which must exist).
    bool opens_max(const std::function<void()>& call)
    {
        const int fd = inotify_init1(IN_NONBLOCK);
        EXPECT_GE(fd, 0);
        EXPECT_GE(inotify_add_watch(fd, (dir_ / "max_brightness").c_str(), IN_OPEN), 0);
        call();
        char events[4096];
        const bool opened = read(fd, events, sizeof events) > 0;
        close(fd);
        return opened;
    }

    const char* dir() const { return dir_.c_str(); }

    // A level that a call must never leave behind: stdio "w" empties the file
    // on open, so a failed call leaves it empty (sysfs ignores the truncation).
    static constexpr const char* OLD_LEVEL = "77\n";
    fs::path dir_;
};

using BacklightOn = BacklightDevice;
using BacklightPercent = BacklightDevice;
using BacklightFailure = BacklightDevice;
using BacklightFixed = BacklightDevice;

TEST_F(BacklightOn, OnWritesTheMaximumAsRead)
{
    set_max("255\n");
    EXPECT_EQ(stdout_of([&] { backlight_set(1, dir()); }), "");
    EXPECT_EQ(brightness(), "255\n");
}

TEST_F(BacklightOn, AnyNonZeroFlagMeansOn)
{
    set_max("4095");
    backlight_set(-3, dir());
    EXPECT_EQ(brightness(), "4095\n");
}

TEST_F(BacklightOn, OffWritesZeroWithoutMaxFileAndPrintsNothing)
{
    EXPECT_EQ(stdout_of([&] { backlight_set(0, dir()); }), "");
    EXPECT_EQ(brightness(), "0\n");
}

TEST_F(BacklightOn, OffNeverOpensTheMaxFileButOnDoes)
{
    set_max("255\n");
    EXPECT_FALSE(opens_max([&] { backlight_set(0, dir()); }));
    EXPECT_FALSE(opens_max([&] { backlight_set_percent(0, dir()); }));
    EXPECT_TRUE(opens_max([&] { backlight_set(1, dir()); }));
}

struct percent_case {
    const char* max;
    int percent;
    const char* level;
};

TEST_F(BacklightPercent, LevelIsPercentOverHundredTimesMaxTruncated)
{
    // Divided by 100.0 first: 29 / 100.0 * 100 is 28.999..., so 28.
    const percent_case cases[] = {
        {"255\n", 50, "127\n"}, {"255\n", 1, "2\n"},   {"255\n", 100, "255\n"},
        {"100\n", 29, "28\n"},  {"100\n", 57, "56\n"}, {"4095\n", 100, "4095\n"},
        {"255\n", 150, "382\n"}, // not bounded here; the caller caps at 100
        {"2147483647\n", 100, "2147483647\n"},
    };
    for (const percent_case& c : cases) {
        set_max(c.max);
        const std::string out = stdout_of([&] { backlight_set_percent(c.percent, dir()); });
        EXPECT_EQ(brightness(), c.level) << "max " << c.max << "percent " << c.percent;
        EXPECT_EQ(out, "") << "max " << c.max << "percent " << c.percent;
    }
}

TEST_F(BacklightPercent, ZeroOrNegativeWritesZeroWithoutMaxFile)
{
    for (const int percent : {0, -5, -1000}) {
        write_file("brightness", OLD_LEVEL);
        EXPECT_EQ(stdout_of([&] { backlight_set_percent(percent, dir()); }), "")
            << "percent " << percent;
        EXPECT_EQ(brightness(), "0\n") << "percent " << percent;
    }
}

// Each failure runs for both operations that read the maximum.
void for_both_on_calls(const std::function<void(const char*, const std::function<void()>&)>& f,
                       const char* dir)
{
    f("backlight_set(1)", [dir] { backlight_set(1, dir); });
    f("backlight_set_percent(50)", [dir] { backlight_set_percent(50, dir); });
}

TEST_F(BacklightFailure, LettersInMaxFileReportBothMessagesAndWriteNothing)
{
    set_max("bright\n");
    for_both_on_calls(
        [&](const char* name, const std::function<void()>& call) {
            write_file("brightness", OLD_LEVEL);
            EXPECT_EQ(stdout_of(call),
                      "Error reading number from file!\nerror reading max brightness\n")
                << name;
            EXPECT_EQ(brightness(), "") << name;
        },
        dir());
}

TEST_F(BacklightFailure, EmptyMaxFileIsNoNumber)
{
    set_max("");
    EXPECT_EQ(stdout_of([&] { backlight_set(1, dir()); }),
              "Error reading number from file!\nerror reading max brightness\n");
    EXPECT_EQ(brightness(), "");
}

TEST_F(BacklightFailure, MaxThatIsNoLevelSaysSoAndWritesNothing)
{
    for (const char* max : {"4294967296\n", "2147483648", "99999999999999999999\n", "12abc\n", "0x10\n"}) {
        set_max(max);
        for_both_on_calls(
            [&](const char* name, const std::function<void()>& call) {
                write_file("brightness", OLD_LEVEL);
                EXPECT_EQ(stdout_of(call), "max brightness is not a whole number from 0 to 2147483647: "
                                           "backlight left as it was\nerror reading max brightness\n")
                    << name << " max " << max;
                EXPECT_EQ(brightness(), "") << name << " max " << max;
            },
            dir());
    }
}

TEST_F(BacklightFailure, NegativeMaxReportsOnlyTheMaxErrorAndWritesNothing)
{
    // -1 is also the preset of the read: it must not pass as a maximum either.
    for (const char* max : {"-5\n", "-1\n"}) {
        set_max(max);
        for_both_on_calls(
            [&](const char* name, const std::function<void()>& call) {
                write_file("brightness", OLD_LEVEL);
                EXPECT_EQ(stdout_of(call), "error reading max brightness\n") << name << " max " << max;
                EXPECT_EQ(brightness(), "") << name << " max " << max;
            },
            dir());
    }
}

TEST_F(BacklightFailure, MissingMaxFileReportsOpenFailureAndWritesNothing)
{
    for_both_on_calls(
        [&](const char* name, const std::function<void()>& call) {
            write_file("brightness", OLD_LEVEL);
            EXPECT_EQ(stdout_of(call),
                      "Could not open max brightness file\nerror reading max brightness\n")
                << name;
            EXPECT_EQ(brightness(), "") << name;
        },
        dir());
}

TEST_F(BacklightFailure, UnopenableBrightnessFileIsReportedWithTheReasonForEveryCall)
{
    fs::create_directories(dir_ / "folder" / "brightness");
    std::string device;
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"backlight_set(0)", [&] { backlight_set(0, device.c_str()); }},
        {"backlight_set(1)", [&] { backlight_set(1, device.c_str()); }},
        {"backlight_set_percent(0)", [&] { backlight_set_percent(0, device.c_str()); }},
        {"backlight_set_percent(50)", [&] { backlight_set_percent(50, device.c_str()); }},
        {"backlight_set_fixed(0)", [&] { backlight_set_fixed(0, device.c_str()); }},
        {"backlight_set_fixed(1)", [&] { backlight_set_fixed(1, device.c_str()); }},
    };
    const std::pair<std::string, const char*> devices[] = {
        {(dir_ / "no_such_device").string(), "No such file or directory"},
        {(dir_ / "folder").string(), "Is a directory"},
    };
    for (const auto& [path, reason] : devices) {
        device = path;
        for (const auto& [name, call] : calls)
            EXPECT_EQ(stdout_of(call), "Could not open brightness file " + device +
                                           "/brightness: " + reason + "\n") << name;
    }
    EXPECT_FALSE(fs::exists(dir_ / "no_such_device"));
}

TEST_F(BacklightFailure, RefusedLevelIsReported)
{
    // Every write to /dev/full fails with ENOSPC, as a level the driver refuses does.
    fs::remove(dir_ / "brightness");
    fs::create_symlink("/dev/full", dir_ / "brightness");
    const auto refused = [&](const char* level) {
        return std::string("Could not write brightness ") + level + " to " + dir() +
               "/brightness: No space left on device\n";
    };
    set_max("255\n");
    EXPECT_EQ(stdout_of([&] { backlight_set(1, dir()); }), refused("255"));
    EXPECT_EQ(stdout_of([&] { backlight_set_fixed(1, dir()); }), refused("193"));
    EXPECT_EQ(stdout_of([&] { backlight_set_percent(0, dir()); }), refused("0"));
}

TEST_F(BacklightFailure, NoFileDescriptorIsLeftOpen)
{
    set_max("bright\n");
    const auto open_fds = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
    };
    const auto before = open_fds();
    stdout_of([&] {
        backlight_set(1, dir());
        backlight_set_percent(50, dir());
        set_max("-1\n");
        backlight_set(1, dir());
        fs::remove(dir_ / "max_brightness");
        backlight_set(1, dir());
        backlight_write w = backlight_prepare_fixed(1, dir());
        backlight_abandon(w);
    });
    EXPECT_EQ(open_fds(), before);
}

TEST_F(BacklightFixed, OnWritesTheRawLevelAndNeverOpensTheMaxFile)
{
    set_max("bright\n"); // would print errors if it were read
    std::string out;
    EXPECT_FALSE(opens_max([&] { out = stdout_of([&] { backlight_set_fixed(1, dir()); }); }));
    EXPECT_EQ(out, "");
    EXPECT_EQ(brightness(), "193\n");
}

TEST_F(BacklightFixed, OffWritesZero)
{
    EXPECT_EQ(stdout_of([&] { backlight_set_fixed(0, dir()); }), "");
    EXPECT_EQ(brightness(), "0\n");
}

TEST_F(BacklightFixed, PreparedWriteLandsOnlyWhenFinishedAndAbandonedNever)
{
    // A plain file, as on the virtual panel, shows the lit level until "off" is due.
    backlight_set_fixed(1, dir());
    backlight_write off{};
    EXPECT_EQ(stdout_of([&] { off = backlight_prepare_fixed(0, dir()); }), "");
    EXPECT_EQ(brightness(), "193\n") << "changed before its moment";
    EXPECT_EQ(stdout_of([&] { backlight_finish(off); }), "");
    EXPECT_EQ(brightness(), "0\n");

    backlight_write on = backlight_prepare_fixed(1, dir());
    EXPECT_EQ(stdout_of([&] { backlight_abandon(on); }), "");
    EXPECT_EQ(brightness(), "0\n");
    EXPECT_EQ(on.fd, -1);

    // A missing device is reported when the write was due, never for an abandoned one.
    const std::string missing = (dir_ / "no_such_device").string();
    backlight_write late{};
    EXPECT_EQ(stdout_of([&] { late = backlight_prepare_fixed(1, missing.c_str()); }), "");
    EXPECT_EQ(stdout_of([&] { backlight_finish(late); }),
              "Could not open brightness file " + missing + "/brightness: No such file or directory\n");
    backlight_write dropped = backlight_prepare_fixed(0, missing.c_str());
    EXPECT_EQ(stdout_of([&] { backlight_abandon(dropped); }), "");
}

} // namespace
