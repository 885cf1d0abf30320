// Runs a built program as a user would: its own process, stdout and stderr
// captured in files, standard input from a pseudo-terminal, a pipe or /dev/null
// (or closed),
// optionally on the fake DRM device (LD_PRELOAD) with a fake backlight folder.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

enum class stdin_kind { null_device, pipe, pty, closed };

struct program_spec {
    std::vector<std::string> argv; // argv[0] is the program path
    std::vector<std::string> env;  // extra NAME=VALUE entries
    stdin_kind input = stdin_kind::null_device;
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
