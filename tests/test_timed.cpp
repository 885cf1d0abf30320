// panelshow_timed's command line and its 10 ms countdown.
#include "cli/timed_args.h"
#include "launch/countdown.h"
#include "support/printed.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct parsed {
    timed_args args;
    std::string notices;
};

parsed parse(std::vector<const char*> words)
{
    words.insert(words.begin(), "panelshow_timed");
    parsed p{};
    p.notices = printed([&](FILE* notices) {
        p.args = parse_timed_args(static_cast<int>(words.size()), words.data(), notices);
    });
    return p;
}

uint64_t sleeps_by_stepping(timespan c)
{
    uint64_t sleeps = 0;
    while (countdown_tick(c))
        ++sleeps;
    return sleeps;
}

TEST(TimedArgs, FewerThanThreeArgumentsIsUsageError)
{
    EXPECT_EQ(parse({}).args.outcome, args_outcome::usage_error);
    EXPECT_EQ(parse({"img", "1"}).args.outcome, args_outcome::usage_error);
}

TEST(TimedArgs, PositionalsWithDefaults)
{
    const timed_args a = parse({"img.png", "1000000000", "1"}).args;
    EXPECT_EQ(a.outcome, args_outcome::run);
    EXPECT_STREQ(a.image_path, "img.png");
    EXPECT_EQ(a.display_ns, 1000000000u);
    EXPECT_EQ(a.power_down, 1);
    EXPECT_EQ(a.brightness, 100);
    EXPECT_EQ(a.mode_sel, 0);
}

TEST(TimedArgs, NumbersReadWithoutChecksButDefined)
{
    // Negative time is the longest unsigned count; text reads as 0 (untimed).
    EXPECT_EQ(parse({"i", "-1", "0"}).args.display_ns, UINT64_MAX);
    EXPECT_EQ(parse({"i", "abc", "0"}).args.display_ns, 0u);
    // Beyond 64 bits the reading saturates instead of being undefined.
    EXPECT_EQ(parse({"i", "99999999999999999999999", "0"}).args.display_ns,
              uint64_t{INT64_MAX});
    EXPECT_EQ(parse({"i", "1", "2"}).args.power_down, 2);
    EXPECT_EQ(parse({"i", "1", "yes"}).args.power_down, 0);
    // Beyond int range: the low 32 bits, as the C library's int conversion gives.
    EXPECT_EQ(parse({"i", "1", "4294967297"}).args.power_down, 1);
}

TEST(TimedArgs, BrightnessAbove100IsCappedWithANoticeEachTime)
{
    const parsed p = parse({"i", "1", "0", "-b", "150", "-b", "101"});
    EXPECT_EQ(p.args.brightness, 100);
    EXPECT_EQ(p.notices, "Capping requested brightness 150% to 100%\n"
                         "Capping requested brightness 101% to 100%\n");
    // Beyond the int range and beyond 64 bits too, the number shown as asked.
    const parsed wide = parse({"i", "1", "0", "-b", "99999999999", "-b", "99999999999999999999999",
                               "-b", "+02147483648"});
    EXPECT_EQ(wide.args.brightness, 100);
    EXPECT_EQ(wide.notices, "Capping requested brightness 99999999999% to 100%\n"
                            "Capping requested brightness 99999999999999999999999% to 100%\n"
                            "Capping requested brightness 2147483648% to 100%\n");
    const parsed exact = parse({"i", "1", "0", "-b", "100"});
    EXPECT_EQ(exact.args.brightness, 100);
    EXPECT_EQ(exact.notices, "");
}

TEST(TimedArgs, BrightnessHasNoLowerBound)
{
    EXPECT_EQ(parse({"i", "1", "0", "-b", "-5"}).args.brightness, -5);
    EXPECT_EQ(parse({"i", "1", "0", "-b", "0"}).args.brightness, 0);
    // Below the int range: the lowest int, still off, never wrapped to a high level.
    EXPECT_EQ(parse({"i", "1", "0", "-b", "-2147483649"}).args.brightness, INT32_MIN);
    EXPECT_EQ(parse({"i", "1", "0", "-b", "-99999999999999999999"}).args.brightness, INT32_MIN);
}

TEST(TimedArgs, ModeKeptModulo256AndLastOptionWins)
{
    EXPECT_EQ(parse({"i", "1", "0", "-m", "300"}).args.mode_sel, 44);
    const timed_args a = parse({"i", "1", "0", "-m", "3", "-b", "20", "-m", "7", "-b", "30"}).args;
    EXPECT_EQ(a.mode_sel, 7);
    EXPECT_EQ(a.brightness, 30);
}

TEST(TimedArgs, IgnoredOptionIsAcceptedAndChangesNothing)
{
    const timed_args a = parse({"i", "1", "0", "-i", "99"}).args;
    EXPECT_EQ(a.outcome, args_outcome::run);
    EXPECT_EQ(a.brightness, 100);
    EXPECT_EQ(a.mode_sel, 0);
}

TEST(TimedArgs, OptionWithoutValueIsUsageWithStatusZero)
{
    for (const char* option : {"-b", "-m", "-i"})
        EXPECT_EQ(parse({"i", "1", "0", option}).args.outcome, args_outcome::usage_ok) << option;
    EXPECT_EQ(parse({"i", "1", "0", "-m", "3", "-m"}).args.outcome, args_outcome::usage_ok);
}

TEST(TimedArgs, UnknownOptionWordIsUsageError)
{
    EXPECT_EQ(parse({"i", "1", "0", "-x", "5"}).args.outcome, args_outcome::usage_error);
    EXPECT_EQ(parse({"i", "1", "0", "-x"}).args.outcome, args_outcome::usage_error);
    EXPECT_EQ(parse({"i", "1", "0", "-B", "5"}).args.outcome, args_outcome::usage_error);
    EXPECT_EQ(parse({"i", "1", "0", "-bb", "5"}).args.outcome, args_outcome::usage_error);
}

TEST(TimedArgs, ValueIsNeverTakenAsOption)
{
    // "-b" is the value of -m; "5" then stands in an option position.
    const timed_args a = parse({"i", "1", "0", "-m", "-b", "5"}).args;
    EXPECT_EQ(a.outcome, args_outcome::usage_error);
    const timed_args b = parse({"i", "1", "0", "-b", "-m"}).args;
    EXPECT_EQ(b.outcome, args_outcome::run);
    EXPECT_EQ(b.brightness, 0);
}

TEST(TimedCountdown, SplitsIntoSecondsAndNanoseconds)
{
    const timespan longest = timespan_from_ns(UINT64_MAX);
    EXPECT_EQ(longest.sec, 18446744073u);
    EXPECT_EQ(longest.nsec, 709551615u);
    const timespan short_one = timespan_from_ns(5000000);
    EXPECT_EQ(short_one.sec, 0u);
    EXPECT_EQ(short_one.nsec, 5000000u);
}

TEST(TimedCountdown, OneSecondIs99Sleeps)
{
    timespan c = timespan_from_ns(1000000000);
    ASSERT_TRUE(countdown_tick(c));
    EXPECT_EQ(c.sec, 0u);
    EXPECT_EQ(c.nsec, 989999999u) << "a taken second restarts at 989,999,999 ns";
    EXPECT_EQ(sleeps_by_stepping(timespan_from_ns(1000000000)), 99u);
}

TEST(TimedCountdown, BelowOneTickEndsBeforeTheFirstSleep)
{
    timespan c = timespan_from_ns(5000000);
    EXPECT_FALSE(countdown_tick(c));
    EXPECT_EQ(sleeps_by_stepping(timespan_from_ns(5000000)), 0u);
    EXPECT_EQ(sleeps_by_stepping(timespan_from_ns(9999999)), 0u);
    EXPECT_EQ(sleeps_by_stepping(timespan_from_ns(10000000)), 1u);
}

TEST(TimedCountdown, EverySecondIs99SleepsAfterTheTicksOfItsNanoseconds)
{
    for (uint64_t ns : {uint64_t{1}, uint64_t{20000000}, uint64_t{999999999}, uint64_t{1000000001},
                        uint64_t{1990000000}, uint64_t{2500000000}, uint64_t{3009999999}}) {
        const timespan c = timespan_from_ns(ns);
        EXPECT_EQ(sleeps_by_stepping(c), c.nsec / TICK_NSEC + c.sec * 99) << "display time " << ns << " ns";
    }
    EXPECT_EQ(sleeps_by_stepping(timespan_from_ns(2500000000)), 50u + 2 * 99u);
}

TEST(TimedCountdown, LongestTimeCountsWithoutOverflow)
{
    // 70 ticks of its nanoseconds, then the first of 18446744073 seconds is taken.
    timespan c = timespan_from_ns(UINT64_MAX);
    for (int i = 0; i < 70; ++i)
        ASSERT_TRUE(countdown_tick(c));
    EXPECT_EQ(c.sec, 18446744073u);
    ASSERT_TRUE(countdown_tick(c));
    EXPECT_EQ(c.sec, 18446744072u);
    EXPECT_EQ(c.nsec, TICK_SECOND_RESTART_NSEC);
}

} // namespace
