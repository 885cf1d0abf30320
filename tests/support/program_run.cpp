#include "program_run.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string temp_file(const char* stem)
{
    std::string tmpl = std::string("/tmp/") + stem + "-XXXXXX";
    const int fd = mkstemp(tmpl.data());
    close(fd);
    return tmpl;
}

} // namespace

void exec_child(const std::vector<std::string>& argv, const std::vector<std::string>& env)
{
    for (int fd = 3; fd < 1024; ++fd)
        close(fd);
    for (const std::string& e : env)
        putenv(strdup(e.c_str()));
    std::vector<char*> words;
    for (const std::string& a : argv)
        words.push_back(const_cast<char*>(a.c_str()));
    words.push_back(nullptr);
    execv(words[0], words.data());
    _exit(127);
}

running_program start_program(const program_spec& spec)
{
    running_program p;
    p.out_path = temp_file("prog-out");
    p.err_path = temp_file("prog-err");

    int master = -1;
    int slave = -1;
    int pipe_fds[2] = {-1, -1};
    if (spec.input == stdin_kind::pty && openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return p;
    if (spec.input == stdin_kind::pipe && pipe(pipe_fds) != 0)
        return p;

    p.pid = fork();
    if (p.pid == 0) {
        int in = -1;
        if (spec.input == stdin_kind::pty) {
            setsid();
            ioctl(slave, TIOCSCTTY, 0);
            in = slave;
        } else if (spec.input == stdin_kind::pipe) {
            in = pipe_fds[0];
        } else if (spec.input == stdin_kind::null_device) {
            in = open("/dev/null", O_RDONLY);
        }
        const int out = open(p.out_path.c_str(), O_WRONLY | O_TRUNC);
        const int err = open(p.err_path.c_str(), O_WRONLY | O_TRUNC);
        dup2(out, 1);
        dup2(err, 2);
        // Last: an open after close(0) would take descriptor 0.
        if (in < 0 || dup2(in, 0) < 0)
            close(0);
        exec_child(spec.argv, spec.env);
    }
    if (spec.input == stdin_kind::pty) {
        close(slave);
        p.input_fd = master;
    } else if (spec.input == stdin_kind::pipe) {
        close(pipe_fds[0]);
        p.input_fd = pipe_fds[1];
    }
    return p;
}

void send_input(const running_program& p, const std::string& bytes)
{
    if (p.input_fd >= 0)
        (void)!write(p.input_fd, bytes.data(), bytes.size());
}

int wait_program(running_program& p, int timeout_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(p.pid, &status, WNOHANG);
        if (r == p.pid) {
            p.pid = -1;
            if (p.input_fd >= 0)
                close(p.input_fd);
            p.input_fd = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void kill_program(running_program& p, int sig)
{
    if (p.pid <= 0)
        return;
    kill(p.pid, sig);
    wait_program(p, 5000);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string program_stdout(const running_program& p)
{
    return read_file(p.out_path);
}

std::string program_stderr(const running_program& p)
{
    return read_file(p.err_path);
}

bool wait_for_text(const std::string& path, const std::string& text, int timeout_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
        if (access(path.c_str(), F_OK) == 0 && read_file(path).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

temp_dir::temp_dir()
{
    char tmpl[] = "/tmp/kdt-test-XXXXXX";
    path = mkdtemp(tmpl);
}

temp_dir::~temp_dir()
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::string built_program(const std::string& name)
{
    return std::string(KDT_PROGRAM_DIR) + "/" + name;
}

std::string fake_drm_library()
{
    return KDT_FAKE_DRM_LIBRARY;
}
