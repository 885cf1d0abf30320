// The key poll on a real pseudo-terminal, a pipe and /dev/null standing in as
// descriptor 0, and the SIGINT stop flag.
#include "common/console.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sstream>
#include <stdio_ext.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// Everything key_available may touch, in a form a failed comparison can print.
std::string terminal_state(int fd)
{
    termios t{};
    std::ostringstream s;
    if (tcgetattr(fd, &t) == 0) {
        s << std::hex << "iflag=" << t.c_iflag << " oflag=" << t.c_oflag
          << " cflag=" << t.c_cflag << " lflag=" << t.c_lflag << " line=" << int{t.c_line}
          << " ispeed=" << cfgetispeed(&t) << " ospeed=" << cfgetospeed(&t) << " cc=";
        for (const cc_t c : t.c_cc) {
            s << int{c} << ',';
        }
    } else {
        s << "no terminal";
    }
    s << " fl=" << std::hex << fcntl(fd, F_GETFL, 0);
    return s.str();
}

// Puts fd in place of descriptor 0 for one test, with the stdin stream's
// buffer and indicators emptied, and puts the original back afterwards.
class StdinReplaced : public testing::Test {
protected:
    void SetUp() override
    {
        saved_stdin_ = dup(0);
        ASSERT_GE(saved_stdin_, 0);
    }
    void TearDown() override
    {
        __fpurge(stdin);
        clearerr(stdin);
        dup2(saved_stdin_, 0);
        close(saved_stdin_);
        for (const int fd : owned_) {
            close(fd);
        }
    }
    void use_as_stdin(int fd)
    {
        ASSERT_GE(dup2(fd, 0), 0);
        __fpurge(stdin);
        clearerr(stdin);
    }
    int own(int fd)
    {
        owned_.push_back(fd);
        return fd;
    }
    void release(int fd)
    {
        close(fd);
        std::erase(owned_, fd);
    }

    // getc(stdin) for a key a poll reported; EOF instead of blocking when the
    // poll reported a key that is not there.
    static int take_key()
    {
        const int flags = fcntl(0, F_GETFL, 0);
        fcntl(0, F_SETFL, flags | O_NONBLOCK);
        const int c = std::getc(stdin);
        fcntl(0, F_SETFL, flags);
        clearerr(stdin);
        return c;
    }

    // Polls until a key shows up; the pty delivers input asynchronously. Bounded
    // so that a poll that never sees the key fails instead of hanging.
    static bool wait_for_key()
    {
        for (int i = 0; i < 2000; ++i) {
            if (key_available()) {
                return true;
            }
            usleep(1000);
        }
        return false;
    }

private:
    int saved_stdin_ = -1;
    std::vector<int> owned_;
};

// A fresh pseudo-terminal with the usual line settings as descriptor 0.
class KeyPollTerminal : public StdinReplaced {
protected:
    void SetUp() override
    {
        StdinReplaced::SetUp();
        int master = -1;
        int slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        master_ = own(master);
        own(slave);
        use_as_stdin(slave);
        termios t{};
        ASSERT_EQ(tcgetattr(0, &t), 0);
        ASSERT_TRUE((t.c_iflag & ICRNL) && (t.c_lflag & ICANON) && (t.c_lflag & ECHO))
            << "the pty does not start with the usual cooked settings";
    }
    void type(const char* keys)
    {
        ASSERT_EQ(write(master_, keys, std::strlen(keys)), static_cast<ssize_t>(std::strlen(keys)));
    }
    int master_ = -1;
};

using KeyPollOtherInput = StdinReplaced;

TEST_F(KeyPollTerminal, NoKeyGivesFalseAndLeavesAttributesAndFlagsAsTheyWere)
{
    const std::string before = terminal_state(0);
    EXPECT_FALSE(key_available());
    EXPECT_EQ(terminal_state(0), before);
}

TEST_F(KeyPollTerminal, ClosedMasterSideIsAHangUp)
{
    release(master_);
    EXPECT_EQ(poll_key(), key_poll::hangup);
    EXPECT_EQ(poll_key(), key_poll::hangup) << "polled again";
}

TEST_F(KeyPollTerminal, EnterArrivesAsLineFeed)
{
    type("\r");
    ASSERT_TRUE(wait_for_key()) << "Enter never seen";
    EXPECT_EQ(take_key(), 0x0A);
    EXPECT_FALSE(key_available());
}

TEST_F(KeyPollTerminal, EscapeArrivesOnItsOwnWithoutEnter)
{
    type("\x1b");
    ASSERT_TRUE(wait_for_key()) << "Escape never seen (line editing left on?)";
    EXPECT_EQ(take_key(), 0x1B);
}

TEST_F(KeyPollTerminal, TwoQuickKeysArriveOnTwoPollsInOrder)
{
    const std::string before = terminal_state(0);
    type("ab");
    ASSERT_TRUE(wait_for_key()) << "first key never seen";
    EXPECT_EQ(take_key(), 'a');
    // The second key may still be on its way from the master side.
    ASSERT_TRUE(wait_for_key()) << "second key never seen";
    EXPECT_EQ(take_key(), 'b');
    EXPECT_FALSE(key_available());
    EXPECT_EQ(terminal_state(0), before);
}

TEST_F(KeyPollTerminal, PollWithAKeyWaitingTakesNothingAway)
{
    type("q");
    ASSERT_TRUE(wait_for_key());
    // Polling again before taking it still reports the same single key.
    EXPECT_TRUE(key_available());
    EXPECT_EQ(take_key(), 'q');
    EXPECT_FALSE(key_available());
}

TEST_F(KeyPollTerminal, TenThousandPollsLeaveAttributesAndFlagsExactlyAsBefore)
{
    const std::string before = terminal_state(0);
    for (int i = 0; i < 10000; ++i) {
        if (key_available()) {
            FAIL() << "poll " << i << " saw a key nobody typed: " << take_key();
        }
    }
    EXPECT_EQ(terminal_state(0), before);
}

TEST_F(KeyPollOtherInput, PipeDeliversOneByteAPollThenFalse)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    own(ends[0]);
    const int writer = ends[1];
    use_as_stdin(ends[0]);
    const std::string before = terminal_state(0);

    ASSERT_EQ(write(writer, "xy", 2), 2);
    ASSERT_TRUE(key_available());
    EXPECT_EQ(take_key(), 'x');
    ASSERT_TRUE(key_available());
    EXPECT_EQ(take_key(), 'y');
    EXPECT_FALSE(key_available()) << "empty pipe, writer still open";
    close(writer);
    EXPECT_FALSE(key_available()) << "end of input";
    EXPECT_FALSE(key_available()) << "end of input, polled again";
    EXPECT_EQ(terminal_state(0), before);
}

TEST_F(KeyPollOtherInput, DevNullIsNeverAKey)
{
    use_as_stdin(own(open("/dev/null", O_RDONLY)));
    const std::string before = terminal_state(0);
    EXPECT_FALSE(key_available());
    EXPECT_FALSE(key_available());
    EXPECT_EQ(poll_key(), key_poll::none) << "end of input is no hang-up";
    EXPECT_EQ(terminal_state(0), before);
}

// In a child process: a handler that is missing or reset would kill the test run.
TEST(StopFlag, EachStopSignalSetsTheFlagAndASecondOneIsSurvived)
{
    for (const int sig : STOP_SIGNALS)
        EXPECT_EXIT(
            {
                install_stop_handlers();
                stop_requested = 0;
                raise(sig);
                const int after_first = stop_requested;
                raise(sig);
                std::_Exit(after_first == 1 && stop_requested == 1 ? 0 : 2);
            },
            testing::ExitedWithCode(0), "")
            << strsignal(sig);
}

TEST(StopFlag, HandlersStayInstalledAndRestartSystemCalls)
{
    struct sigaction old[std::size(STOP_SIGNALS)]{};
    for (size_t i = 0; i < std::size(STOP_SIGNALS); ++i)
        ASSERT_EQ(sigaction(STOP_SIGNALS[i], nullptr, &old[i]), 0);
    install_stop_handlers();
    for (size_t i = 0; i < std::size(STOP_SIGNALS); ++i) {
        struct sigaction now{};
        ASSERT_EQ(sigaction(STOP_SIGNALS[i], nullptr, &now), 0);
        sigaction(STOP_SIGNALS[i], &old[i], nullptr);
        EXPECT_EQ(now.sa_handler, &handle_sigint) << strsignal(STOP_SIGNALS[i]);
        EXPECT_TRUE(now.sa_flags & SA_RESTART) << "interrupted reads would fail with EINTR";
        EXPECT_FALSE(now.sa_flags & SA_RESETHAND) << "a second Ctrl-C would kill the program";
    }
}

} // namespace
