// Runs a built program as a user would: its own process, stdout and stderr
// captured in files, standard input from a pseudo-terminal, a pipe or /dev/null
// (or closed), optionally on the fake DRM device (LD_PRELOAD) with a fake
// backlight folder (fake_panel, start_on_panel). Every test that starts a
// program starts it here.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

enum class stdin_kind { null_device, pipe, pty, closed };

// A pseudo-terminal the test opened itself and keeps (both sides), so that it can
// look at the terminal before the program starts and after it has ended.
struct terminal_pair {
    int master = -1;
    int slave = -1;
};

struct program_spec {
    std::vector<std::string> argv; // argv[0] is the program path
    std::vector<std::string> env;  // extra NAME=VALUE entries
    stdin_kind input = stdin_kind::null_device;
    // stdin_kind::pipe: the whole input, in the pipe before the program starts and
    // followed by its end; empty: the test writes with send_input.
    std::string input_bytes;
    terminal_pair terminal;    // stdin_kind::pty on this terminal instead of a new one
    bool merge_stderr = false; // standard error onto the standard output file, in order
    std::string out_path;      // standard output to this file (a FIFO, say), else a new one
};

struct running_program {
    pid_t pid = -1;
    int input_fd = -1; // pty master or pipe write end; -1 for /dev/null
    std::string out_path;
    std::string err_path;
};

running_program start_program(const program_spec& spec);
// In a forked child whose standard streams are set up: closes every other
// descriptor, adds env (NAME=VALUE entries) and executes argv; exit status 127
// when that fails.
[[noreturn]] void exec_child(const std::vector<std::string>& argv,
                             const std::vector<std::string>& env);
// Writes bytes to the program's input (pty master or pipe).
void send_input(const running_program& p, const std::string& bytes);
// Waits for the exit; returns the exit status, 128 + signal when killed by a
// signal, or -1 when it is still running after timeout_ms.
int wait_program(running_program& p, int timeout_ms);
// SIGKILL and reap.
void kill_program(running_program& p, int sig = 9);
std::string program_stdout(const running_program& p);
std::string program_stderr(const running_program& p);
// Polls until the file holds `text` (or exists, when text is empty); false on timeout.
bool wait_for_text(const std::string& path, const std::string& text, int timeout_ms);
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);

// A temporary folder removed with its files at the end of the scope.
struct temp_dir {
    std::string path;
    temp_dir();
    ~temp_dir();
    std::string file(const std::string& name) const { return path + "/" + name; }
};

// Paths of the build, set by CMake as compile definitions.
std::string built_program(const std::string& name);
std::string fake_drm_library();

// The fake device's files in a temporary folder: its log, the shown frame, and a
// backlight folder whose brightness file is a FIFO, so that every level written
// reaches the test in order, or a plain file that starts at a given level.
struct fake_panel {
    temp_dir dir;
    int brightness_fd = -1; // the FIFO's reading end; -1 while nobody reads
    bool fifo = true;
    std::string written; // brightness writes read so far

    // Without a level: the brightness file is a FIFO, held open for reading.
    explicit fake_panel(const char* level = nullptr);
    ~fake_panel();
    fake_panel(const fake_panel&) = delete;
    fake_panel& operator=(const fake_panel&) = delete;

    std::string log_path() const { return dir.file("log"); }
    std::string frame_path() const { return dir.file("frame"); }
    std::string backlight_dir() const { return dir.file("bl"); }

    // Every level written to the brightness file so far, in order ("255\n0\n"),
    // or what the plain file holds.
    const std::string& backlight();
    // Reads what was written and stops reading, so that the next open for writing
    // waits; read_backlight_again lets it go on.
    void stop_reading_backlight();
    void read_backlight_again();

    // The FAKE_DRM value: log and backlight, the frame when asked, then `extra`.
    std::string fake_config(const std::string& extra, bool with_frame) const;

    int count_log(const std::string& line) const;
    int commits() const { return count_log("ATOMIC ok\n"); }
    bool wait_commits(int n, int timeout_ms = 5000) const;
    // Until the first frame has lit the panels: a stop before that keeps them dark.
    bool wait_lit(int timeout_ms = 5000);
};

struct run_options {
    std::string fake;   // extra FAKE_DRM items (the device, failures, delays)
    bool frame = false; // have the fake write each shown frame
    stdin_kind input = stdin_kind::pty;
    std::string keys;   // stdin_kind::pipe: the whole input (see program_spec)
    terminal_pair terminal;
    bool merge_stderr = false;
    std::string out_path;
    // Started by a shell with job control as a background job on the terminal; the
    // shell brings it to the foreground once the test has typed one line.
    bool background_job = false;
};

// Starts a built program (by name) on the fake device of `panel`.
running_program start_on_panel(const std::string& program, const std::vector<std::string>& args,
                               const fake_panel& panel, const run_options& opt = {});

struct finished_run {
    int status; // -1: still running after the wait (or holding its frame), then killed
    std::string out;
    std::string err;
};

// Waits for the end; a program still running after timeout_ms is killed.
finished_run finish(running_program& p, int timeout_ms = 5000);
// For a program that holds its frame until killed (panelshow): ends by itself, or
// has committed a frame and waits in pause() or for the flip event, and is then
// killed with status -1. Everything it writes before that wait is in the files.
finished_run finish_holding(running_program& p, const fake_panel& panel,
                            int timeout_ms = 10000);
