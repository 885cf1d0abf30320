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
#include <sys/stat.h>
#include <sys/syscall.h>
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
    p.out_path = spec.out_path.empty() ? temp_file("prog-out") : spec.out_path;
    p.err_path = temp_file("prog-err");

    const bool own_terminal = spec.terminal.master >= 0;
    int master = spec.terminal.master;
    int slave = spec.terminal.slave;
    int pipe_fds[2] = {-1, -1};
    if (spec.input == stdin_kind::pty && !own_terminal &&
        openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return p;
    if (spec.input == stdin_kind::pipe) {
        if (pipe(pipe_fds) != 0)
            return p;
        // The whole input waits in the pipe, so the program's first read takes it.
        if (!spec.input_bytes.empty()) {
            (void)!write(pipe_fds[1], spec.input_bytes.data(), spec.input_bytes.size());
            close(pipe_fds[1]);
            pipe_fds[1] = -1;
        }
    }

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
        dup2(spec.merge_stderr ? out : err, 2);
        // Last: an open after close(0) would take descriptor 0.
        if (in < 0 || dup2(in, 0) < 0)
            close(0);
        exec_child(spec.argv, spec.env);
    }
    if (spec.input == stdin_kind::pty && own_terminal) {
        p.input_fd = dup(master); // the test keeps its own descriptors
    } else if (spec.input == stdin_kind::pty) {
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

fake_panel::fake_panel(const char* level) : fifo(level == nullptr)
{
    mkdir(dir.file("bl").c_str(), 0755);
    write_file(dir.file("bl/max_brightness"), "255\n");
    if (!fifo) {
        write_file(dir.file("bl/brightness"), level);
        return;
    }
    mkfifo(dir.file("bl/brightness").c_str(), 0644);
    // Held open for reading, so the program's opens never wait.
    read_backlight_again();
}

fake_panel::~fake_panel()
{
    if (brightness_fd >= 0)
        close(brightness_fd);
}

const std::string& fake_panel::backlight()
{
    if (!fifo)
        return written = read_file(dir.file("bl/brightness"));
    char buf[256];
    ssize_t n;
    while (brightness_fd >= 0 && (n = read(brightness_fd, buf, sizeof buf)) > 0)
        written.append(buf, static_cast<size_t>(n));
    return written;
}

void fake_panel::stop_reading_backlight()
{
    backlight();
    close(brightness_fd);
    brightness_fd = -1;
}

void fake_panel::read_backlight_again()
{
    brightness_fd = open(dir.file("bl/brightness").c_str(), O_RDONLY | O_NONBLOCK);
}

std::string fake_panel::fake_config(const std::string& extra, bool with_frame) const
{
    std::string c = "log=" + log_path() + ";backlight=" + backlight_dir();
    if (with_frame)
        c += ";frame=" + frame_path();
    return extra.empty() ? c : c + ";" + extra;
}

int fake_panel::count_log(const std::string& line) const
{
    const std::string log = read_file(log_path());
    int n = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
        ++n;
    return n;
}

bool fake_panel::wait_commits(int n, int timeout_ms) const
{
    for (int waited = 0; waited < timeout_ms; waited += 2) {
        if (commits() >= n)
            return true;
        usleep(2000);
    }
    return false;
}

bool fake_panel::wait_lit(int timeout_ms)
{
    for (int waited = 0; waited < timeout_ms; waited += 2) {
        if (backlight().starts_with("255\n"))
            return true;
        usleep(2000);
    }
    return false;
}

running_program start_on_panel(const std::string& program, const std::vector<std::string>& args,
                               const fake_panel& panel, const run_options& opt)
{
    program_spec spec;
    spec.argv = {built_program(program)};
    spec.argv.insert(spec.argv.end(), args.begin(), args.end());
    spec.env = {"LD_PRELOAD=" + fake_drm_library(),
                "FAKE_DRM=" + panel.fake_config(opt.fake, opt.frame)};
    spec.input = opt.input;
    spec.input_bytes = opt.keys;
    spec.terminal = opt.terminal;
    spec.merge_stderr = opt.merge_stderr;
    spec.out_path = opt.out_path;
    // bash takes the terminal for job control from stderr; the fake device is the job's alone.
    if (opt.background_job) {
        spec.argv.insert(spec.argv.begin(),
                         {"/bin/bash", "-c",
                          "exec 3>&2 2>&0; set -m; LD_PRELOAD=$P \"$@\" 2>&3 & read -r _; fg", "job"});
        spec.env[0] = "P=" + fake_drm_library();
    }
    return start_program(spec);
}

finished_run finish(running_program& p, int timeout_ms)
{
    const int status = wait_program(p, timeout_ms);
    if (status == -1)
        kill_program(p);
    return {status, program_stdout(p), program_stderr(p)};
}

namespace {

// Waiting in pause() or for an event: a program that holds its frame.
bool waiting(pid_t pid)
{
    const std::string sc = read_file("/proc/" + std::to_string(pid) + "/syscall");
    std::vector<long> calls{SYS_rt_sigsuspend, SYS_ppoll};
#ifdef SYS_pause
    calls.push_back(SYS_pause);
#endif
#ifdef SYS_poll
    calls.push_back(SYS_poll);
#endif
    for (const long call : calls)
        if (sc.rfind(std::to_string(call) + " ", 0) == 0)
            return true;
    return false;
}

} // namespace

finished_run finish_holding(running_program& p, const fake_panel& panel, int timeout_ms)
{
    int status = -1;
    for (int waited = 0; status == -1 && waited < timeout_ms; waited += 10) {
        status = wait_program(p, 10);
        if (status == -1 && waiting(p.pid) && panel.commits() > 0)
            break;
    }
    if (status == -1)
        kill_program(p);
    return {status, program_stdout(p), program_stderr(p)};
}
