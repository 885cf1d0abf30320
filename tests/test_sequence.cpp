// panelshow_sequence's command line, its delays, and ending an image program.
#include "cli/sequence_args.h"
#include "launch/sequence_timing.h"
#include "launch/child.h"
#include "launch/outside.h"
#include "common/clock.h"
#include "common/console.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

sequence_args parse(std::vector<const char*> words)
{
    words.insert(words.begin(), "panelshow_sequence");
    return parse_sequence_args(static_cast<int>(words.size()), words.data());
}

void expect_delay(timespan d, uint64_t sec, uint64_t nsec, const char* what)
{
    EXPECT_EQ(d.sec, sec) << what;
    EXPECT_EQ(d.nsec, nsec) << what;
}

bool process_exists(pid_t pid)
{
    struct stat st{};
    return stat(("/proc/" + std::to_string(pid)).c_str(), &st) == 0;
}

TEST(SequenceArgs, WordCountsDecideUsageAndMode)
{
    EXPECT_EQ(parse({"dir", "1"}).outcome, args_outcome::usage_error);
    EXPECT_EQ(parse({"dir", "1", "2", "-x", "5"}).outcome, args_outcome::usage_ok);

    const sequence_args five = parse({"dir", "1", "2", "-m", "300"});
    EXPECT_EQ(five.outcome, args_outcome::run);
    EXPECT_EQ(five.mode_sel, 44);
    EXPECT_STREQ(five.directory, "dir");
    EXPECT_STREQ(five.settle_text, "1");
    EXPECT_STREQ(five.display_text, "2");

    // Four, or six and more: nothing after the third is read.
    EXPECT_EQ(parse({"dir", "1", "2", "-m"}).mode_sel, 0);
    const sequence_args six = parse({"dir", "1", "2", "-m", "5", "x"});
    EXPECT_EQ(six.outcome, args_outcome::run);
    EXPECT_EQ(six.mode_sel, 0);
}

TEST(SequenceDelay, ZeroOrNoNumberFallsBackToJustUnderOneSecond)
{
    for (const char* text : {"0", "abc", ""}) {
        const delay_reading r = read_delay(text);
        EXPECT_EQ(r.outcome, delay_outcome::fallback) << '"' << text << '"';
        expect_delay(r.delay, 0, 999999999, text);
    }
}

TEST(SequenceDelay, SplitsIntoSecondsAndNanoseconds)
{
    const delay_reading settle = read_delay("2500000000");
    EXPECT_EQ(settle.outcome, delay_outcome::ok);
    expect_delay(settle.delay, 2, 500000000, "2,500,000,000");
    expect_delay(read_delay("500000000").delay, 0, 500000000, "500,000,000");
    expect_delay(read_delay("1").delay, 0, 1, "1");
}

TEST(SequenceDelay, NegativeIsRefused)
{
    EXPECT_EQ(read_delay("-1").outcome, delay_outcome::negative);
    EXPECT_EQ(read_delay("-5000000000").outcome, delay_outcome::negative);
}

TEST(SequenceDelay, LitTimeAddsExtraWithCarry)
{
    const timespan fallback{0, DELAY_FALLBACK_NSEC};
    expect_delay(lit_time(fallback, FIRST_EXTRA_NSEC), 1, 124499999, "first image, 0 0");
    expect_delay(lit_time(fallback, LATER_EXTRA_NSEC), 1, 24899999, "later image, 0 0");

    const timespan half{0, 500000000};
    expect_delay(lit_time(half, FIRST_EXTRA_NSEC), 0, 624500000, "first image, 0.5 s");
    expect_delay(lit_time(half, LATER_EXTRA_NSEC), 0, 524900000, "later image, 0.5 s");

    expect_delay(lit_time({0, 975100000}, LATER_EXTRA_NSEC), 1, 0, "carry to exactly 1 s");
    expect_delay(lit_time({7, 900000000}, FIRST_EXTRA_NSEC), 8, 24500000, "carry onto seconds");
}

TEST(SequenceDelay, FirstEntryLitTakesTheFirstTimingAndOnlyIt)
{
    // Settle 2.5 s, display 0.5 s; the first entry's image program fails (never lit).
    sequence_timing t{.settle = {2, 500000000}, .display = {0, 500000000}};
    const struct {
        bool lit;
        timespan settle, shown;
    } entries[] = {{false, {1, 200000000}, {0, 624500000}},
                   {true, {1, 200000000}, {0, 624500000}},
                   {true, {2, 500000000}, {0, 524900000}},
                   {false, {2, 500000000}, {0, 524900000}}};
    for (const auto& e : entries) {
        const entry_timing got = next_entry_timing(t);
        expect_delay(got.settle, e.settle.sec, e.settle.nsec, "settle");
        expect_delay(got.lit, e.shown.sec, e.shown.nsec, "lit");
        entry_ended(t, e.lit);
    }
}

int64_t ns(timespec t)
{
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

// The waits take a stop signal held blocked; SIGUSR1 stands in for the four.
struct held_stop {
    sigset_t stops;
    held_stop()
    {
        sigemptyset(&stops);
        sigaddset(&stops, SIGUSR1);
        sigprocmask(SIG_BLOCK, &stops, nullptr);
    }
    ~held_stop()
    {
        const timespec none{0, 0};
        while (sigtimedwait(&stops, nullptr, &none) > 0) {
        }
        sigprocmask(SIG_UNBLOCK, &stops, nullptr);
        stop_requested = 0;
    }
};

TEST(SequenceWait, PendingStopEndsEitherWaitAtOnceAndElapsedOneOnlyWithout)
{
    const timespec hour{3600, 0};
    const timespec past{0, 0};
    const struct {
        const char* what;
        bool precise; // wait_until_unless_stopped, else wait_unless_stopped
        timespec time;
        bool stop_pending;
        bool whole;
    } cases[] = {
        {"deadline an hour ahead, stop pending", true, hour, true, false},
        {"deadline passed, stop pending", true, past, true, false},
        {"deadline passed, no stop", true, past, false, true},
        {"an hour, stop pending", false, hour, true, false},
        {"no time, stop pending", false, past, true, false},
        {"no time, no stop", false, past, false, true},
    };
    for (const auto& c : cases) {
        held_stop held;
        if (c.stop_pending)
            raise(SIGUSR1);
        const bool whole = c.precise
                               ? wait_until_unless_stopped(
                                     c.time.tv_sec == 0 ? c.time : later_by(monotonic_now(), c.time),
                                     held.stops)
                               : wait_unless_stopped(c.time, held.stops);
        EXPECT_EQ(whole, c.whole) << c.what;
        EXPECT_EQ(stop_requested, c.whole ? 0 : 1) << c.what;
    }
}

TEST(SequenceWait, NeverEndsBeforeItsDeadline)
{
    held_stop held;
    const timespec deadline = later_by(monotonic_now(), {0, 2000000});
    EXPECT_TRUE(wait_until_unless_stopped(deadline, held.stops));
    EXPECT_GE(ns(monotonic_now()), ns(deadline));
}

TEST(SequenceWait, ChildStartCarriesItsForkTime)
{
    const timespec before = monotonic_now();
    const char* const argv[] = {"/bin/true", nullptr};
    const outside_start child = start_outside({.path = "/bin/true", .argv = argv});
    const timespec after = monotonic_now();
    ASSERT_GT(child.pid, 0);
    kill_and_reap(child.pid);
    EXPECT_LE(ns(before), ns(child.started));
    EXPECT_LE(ns(child.started), ns(after));
}

TEST(SequenceWait, RealTimePriorityStaysWithTheRunner)
{
    enter_precise_waits();
    if (sched_getscheduler(0) == SCHED_OTHER)
        GTEST_SKIP() << "real-time priority refused here; the runner goes on without it";
    EXPECT_EQ(sched_getscheduler(0), SCHED_FIFO | SCHED_RESET_ON_FORK);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(sched_getscheduler(0) == SCHED_OTHER ? 0 : 1);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0) << "an image program would run at real-time priority";
    leave_precise_waits();
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER) << "lightsout would run at real-time priority";
    EXPECT_NE(prctl(PR_GET_TIMERSLACK), 1) << "lightsout would keep the 1 ns slack";
}

TEST(KilledChild, IsReapedBeforeReturning)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (;;)
            pause();
    }
    EXPECT_TRUE(kill_and_reap(child));
    errno = 0;
    EXPECT_EQ(waitpid(child, nullptr, WNOHANG), -1) << "child " << child << " was not reaped";
    EXPECT_EQ(errno, ECHILD);
    EXPECT_FALSE(process_exists(child)) << "child " << child << " still in /proc";
}

TEST(KilledChild, ThatHadAlreadyExitedIsReapedToo)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(1);
    usleep(50000); // let it become a zombie first, as a failed exec does
    EXPECT_TRUE(kill_and_reap(child));
    EXPECT_FALSE(process_exists(child)) << "zombie " << child << " left behind";
}

} // namespace
