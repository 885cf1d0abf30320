// The interactive programs on a pseudo-terminal under a burst of keys and
// interrupts: every key is handled, Ctrl-C ends them in order, a second Ctrl-C
// during the ending does not kill them, and the terminal's attributes and the
// file status flags of their standard input are what they were before.
//
// The test keeps its own descriptor of the terminal's slave side, the very open
// file description the program reads as standard input, so a flag left set on it
// (O_NONBLOCK) shows after the program has ended. The backlight's brightness file
// is a FIFO: while nobody reads it, the program's ending waits in opening it, so a
// second Ctrl-C reaches the program in the middle of its ending.
#include "keys/paneldefect_keys.h"
#include "support/interactive_program.h"
#include "support/printed.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int KEY_BURST = 500;

struct soak_run {
    fake_panel panel;
    terminal_pair terminal; // the slave shares the open file description of the program's stdin
    running_program proc;
    terminal_state before{};

    soak_run()
    {
        openpty(&terminal.master, &terminal.slave, nullptr, nullptr, nullptr);
        fcntl(terminal.master, F_SETFL, fcntl(terminal.master, F_GETFL) | O_NONBLOCK);
        before = terminal_now(terminal.slave);
    }
    ~soak_run()
    {
        kill_program(proc);
        close(terminal.master);
        close(terminal.slave);
    }
    soak_run(const soak_run&) = delete;
    soak_run& operator=(const soak_run&) = delete;

    const std::string& levels() { return panel.backlight(); }
    std::string out() const { return program_stdout(proc); }

    // Standard output to `out_path` when given (a FIFO, say).
    void start(const std::string& program, const std::vector<std::string>& args,
               const std::string& device, const std::string& out_path = "")
    {
        run_options opt{device, false, stdin_kind::pty};
        opt.terminal = terminal;
        opt.out_path = out_path;
        proc = start_on_panel(program, args, panel, opt);
    }

    // Reads the terminal's output (the echo of the keys) so it never fills up.
    void drain_terminal()
    {
        char buf[4096];
        while (read(terminal.master, buf, sizeof buf) > 0) {
        }
    }
    void type(const std::string& keys)
    {
        for (size_t at = 0; at < keys.size();) {
            const ssize_t n = write(terminal.master, keys.data() + at, keys.size() - at);
            if (n > 0)
                at += size_t(n);
            drain_terminal();
        }
    }

    template <typename Condition>
    bool wait_until(Condition done, int timeout_ms = 20000)
    {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < deadline) {
            drain_terminal();
            levels();
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    int count_log(const std::string& line) const { return panel.count_log(line); }

    // Blocked in opening a file (here: the brightness FIFO without a reader).
    bool in_open() const
    {
        const std::string sc = read_file("/proc/" + std::to_string(proc.pid) + "/syscall");
        return sc.rfind(std::to_string(SYS_openat) + " ", 0) == 0;
    }
    bool alive() const { return waitpid(proc.pid, nullptr, WNOHANG) == 0; }

    // Ctrl-C, and a second one while the ending waits; then let the ending finish.
    // Returns the exit status (128 + signal when killed, -1 when it hung).
    int interrupt_twice()
    {
        panel.stop_reading_backlight();
        type("\x03");
        const bool ending = wait_until([&] { return in_open() || !alive(); }, 10000);
        EXPECT_TRUE(ending) << "the program did not reach its ending";
        EXPECT_TRUE(in_open()) << "the ending did not wait for the brightness file";
        type("\x03");
        // Give a fatal second interrupt the time to act before the ending goes on.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(alive()) << "the second Ctrl-C ended the program";
        panel.read_backlight_again();
        return wait_exit();
    }

    int wait_exit(int timeout_ms = 10000)
    {
        int status = 0;
        const bool ended =
            wait_until([&] { return waitpid(proc.pid, &status, WNOHANG) == proc.pid; }, timeout_ms);
        if (!ended)
            return -1;
        proc.pid = -1;
        close(proc.input_fd);
        proc.input_fd = -1;
        levels();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    void expect_terminal_as_before(const std::string& program) const
    {
        ::expect_terminal_as_before(before, terminal.slave, program);
    }
};

// 500 keys cycled from `cycle`, of which `redraws` paint a frame.
void soak_interactive(const std::string& program, const std::vector<std::string>& args,
                      const std::string& device, const std::string& cycle, int redraws)
{
    std::string keys;
    for (int i = 0; i < KEY_BURST; ++i)
        keys += cycle[size_t(i) % cycle.size()];
    soak_run run;
    run.start(program, args, device);
    ASSERT_TRUE(run.wait_until([&] { return run.count_log("ATOMIC ok") >= 1 && !run.levels().empty(); }))
        << program << " showed no first frame";
    EXPECT_EQ(run.levels(), "255\n");

    run.type(keys);
    // One commit per redrawing key: none lost, none doubled.
    const bool all = run.wait_until([&] { return run.count_log("ATOMIC ok") >= 1 + redraws; });
    EXPECT_TRUE(all) << program << ": " << run.count_log("ATOMIC ok") - 1 << " of " << redraws
                     << " redrawing keys (from \"" << cycle << "\") were handled";

    EXPECT_EQ(run.interrupt_twice(), 0) << program;
    EXPECT_EQ(run.count_log("ATOMIC ok"), 1 + redraws) << program;
    EXPECT_EQ(run.levels(), "255\n0\n") << program << ": backlight on, then off at the end";
    const std::string out = run.out();
    EXPECT_TRUE(out.ends_with(ENDING)) << program << " output ends with: "
                                       << out.substr(out.size() > 200 ? out.size() - 200 : 0);
    EXPECT_EQ(program_stderr(run.proc), "");
    run.expect_terminal_as_before(program);
}

TEST(TerminalSoak, PanelcolorKeyBurstThenTwoInterrupts)
{
    // 24 keys, all but ? and k redraw: 20 cycles of 22, then the first 20 keys.
    soak_interactive("panelcolor", {}, "conn=64x32@60", "qwer asdf1234zxcvtgb5\t?k", 460);
}

TEST(TerminalSoak, PaneldefectKeyBurstThenTwoInterrupts)
{
    // 27 keys, all but 8, 9, 0, ? and k redraw: 18 cycles of 22, then the first 14.
    soak_interactive("paneldefect", {"1", "2", "3"}, "conn=4320x2160@75",
                     "qwerasdf1234zxcv890nm5bgt?k", 410);
}

TEST(TerminalSoak, PanelshowTimedKeyBurstThenTwoInterrupts)
{
    soak_run run;
    // No display time: it runs until stopped. Its image program is a stand-in
    // that holds until killed; the launcher's own loop is what is soaked.
    mkdir(run.panel.dir.file("programs").c_str(), 0755);
    write_file(run.panel.dir.file("programs/panelshow"), "#!/bin/sh\nexec sleep 600\n");
    chmod(run.panel.dir.file("programs/panelshow").c_str(), 0755);
    run.start("panelshow_timed", {"/nonexistent.png", "0", "0"},
              "programs=" + run.panel.dir.file("programs"));
    ASSERT_TRUE(run.wait_until([&] { return !run.levels().empty(); })) << "backlight never set";
    EXPECT_EQ(run.levels(), "255\n");
    // Every key but Enter and 's' is taken and ignored.
    std::string keys;
    for (int i = 0; i < KEY_BURST; ++i)
        keys += "abcdefghijklmnopqrtuvwxyz0123456789 "[i % 36];
    run.type(keys);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(run.alive()) << "a key ended panelshow_timed";
    EXPECT_EQ(run.interrupt_twice(), 0);
    EXPECT_EQ(run.levels(), "255\n0\n");
    EXPECT_EQ(run.out().find("got exit character"), std::string::npos);
    run.expect_terminal_as_before("panelshow_timed");
}

// SIGTERM, SIGHUP and SIGQUIT end both programs exactly as Ctrl-C does.
TEST(TerminalSoak, StopSignalsEndInOrder)
{
    // Program, device, arguments.
    for (const std::vector<std::string>& a :
         {std::vector<std::string>{"panelcolor", "conn=64x32@60"},
          {"paneldefect", "conn=4320x2160@75", "1", "2", "3"}})
        for (const int sig : {SIGTERM, SIGHUP, SIGQUIT}) {
            const std::string what = a[0] + " " + strsignal(sig);
            soak_run run;
            run.start(a[0], {a.begin() + 2, a.end()}, a[1]);
            ASSERT_TRUE(run.wait_until([&] { return !run.levels().empty(); })) << what;
            kill(run.proc.pid, sig);
            EXPECT_EQ(run.wait_exit(), 0) << what;
            EXPECT_EQ(run.levels(), "255\n0\n") << what;
            EXPECT_TRUE(run.out().ends_with(ENDING)) << what;
            run.expect_terminal_as_before(what);
        }
}

// `paneldefect | tee log`: the status block is in the pipe as soon as its frame
// is up, and a reader that goes away does not keep the ending from the backlight.
TEST(TerminalSoak, PipedOutputComesAsPrintedAndAGoneReaderKillsNothing)
{
    soak_run run;
    mkfifo(run.panel.dir.file("out").c_str(), 0644);
    const int reader = open(run.panel.dir.file("out").c_str(), O_RDONLY | O_NONBLOCK);
    run.start("paneldefect", {"1", "2", "3"}, "conn=4320x2160@75", run.panel.dir.file("out"));
    ASSERT_TRUE(run.wait_until([&] { return !run.levels().empty(); }));
    char buf[4096];
    const ssize_t n = read(reader, buf, sizeof buf);
    const defect_colours shown{{0, 0, 0}, {1, 2, 3}, {109, 109, 109}};
    EXPECT_EQ(std::string(buf, size_t(std::max<ssize_t>(n, 0))),
              printed([&](FILE* out) { print_defect_status(out, shown); }));
    close(reader);
    kill(run.proc.pid, SIGTERM);
    EXPECT_EQ(run.wait_exit(), 0) << "141: killed by SIGPIPE";
    EXPECT_EQ(run.levels(), "255\n0\n");
}

// SIGTERM while the first frame is being committed (the fake holds the commit for
// a second): the frame still goes up, but the panels are never lit.
void stop_during_first_commit(const std::string& program, const std::vector<std::string>& args,
                              const std::string& device)
{
    soak_run run;
    run.start(program, args, device + ";delay=ATOMIC:1000");
    ASSERT_TRUE(run.wait_until([&] { return run.count_log("ADDFB2 ok") == 1; }))
        << program << " never registered its framebuffer";
    ASSERT_EQ(run.count_log("ATOMIC"), 0) << program << ": committed before the stop was sent";
    kill(run.proc.pid, SIGTERM);
    EXPECT_EQ(run.wait_exit(), 0) << program;
    EXPECT_EQ(run.count_log("ATOMIC ok"), 1) << program << ": the first frame was not committed";
    EXPECT_EQ(run.levels(), "0\n") << program << ": the panels were lit after the stop";
    EXPECT_TRUE(run.out().ends_with(ENDING)) << program;
}

TEST(TerminalSoak, StopDuringTheFirstCommitNeverLightsThePanels)
{
    stop_during_first_commit("panelcolor", {"10"}, "conn=64x32@60");
    stop_during_first_commit("paneldefect", {"1", "2", "3"}, "conn=4320x2160@75");
}

} // namespace
