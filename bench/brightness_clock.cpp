// Preloaded into panelshow_sequence by bench/sequence_timing.py: notes the
// CLOCK_MONOTONIC time of every fork and of every close of the brightness file,
// as the runner's own calls see them, so lit and settle times are measured where
// they take effect and no tracer slows the runner down. Runs without root:
//   KDT_BENCH_LOG        file the records go to (shared mapping: a store each,
//                        no system call, and they outlive the final exec)
//   KDT_BENCH_BACKLIGHT  folder that stands in for the sysfs backlight device
// The burstkit image program becomes /bin/sleep (it shows nothing and runs until
// killed) and lightsout becomes /bin/true.
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr const char BRIGHTNESS[] = "/sys/class/backlight/ae94000.dsi.0/brightness";
constexpr const char IMAGE_PROGRAM[] = "/usr/lib/kestrin-display-tools/burstkit/panelshow";
constexpr const char LIGHTSOUT[] = "/usr/bin/lightsout";
constexpr size_t MAX_RECORDS = 1000;

enum record_kind : int64_t { FORK = 1, BRIGHTNESS_CLOSED = 2 };

struct record {
    int64_t kind;
    int64_t ns;
};

struct log_file {
    std::atomic<int64_t> count;
    int64_t pad;
    record records[MAX_RECORDS];
};

log_file* records = nullptr;
char brightness_stand_in[4096];
int brightness_fd = -1;
FILE* brightness_file = nullptr;

int64_t now_ns()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

void note(record_kind kind, int64_t ns)
{
    if (records == nullptr)
        return;
    const int64_t i = records->count.fetch_add(1);
    if (i < static_cast<int64_t>(MAX_RECORDS))
        records->records[i] = {kind, ns};
}

template <typename F>
F real(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Looked up once: a lookup at the close would count as the runner's own time.
using close_fn = int (*)(int);
using fclose_fn = int (*)(FILE*);
using fork_fn = pid_t (*)();
close_fn real_close = nullptr;
fclose_fn real_fclose = nullptr;
fork_fn real_fork = nullptr;

__attribute__((constructor)) void start()
{
    real_close = real<close_fn>("close");
    real_fclose = real<fclose_fn>("fclose");
    real_fork = real<fork_fn>("fork");
    if (const char* dir = std::getenv("KDT_BENCH_BACKLIGHT"))
        std::snprintf(brightness_stand_in, sizeof brightness_stand_in, "%s/brightness", dir);
    const char* path = std::getenv("KDT_BENCH_LOG");
    if (path == nullptr)
        return;
    const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ftruncate(fd, sizeof(log_file)) != 0)
        return;
    void* map = mmap(nullptr, sizeof(log_file), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (map != MAP_FAILED)
        records = static_cast<log_file*>(map);
}

const char* redirected(const char* path)
{
    if (path != nullptr && brightness_stand_in[0] != '\0' && std::strcmp(path, BRIGHTNESS) == 0)
        return brightness_stand_in;
    return path;
}

bool is_brightness(const char* path)
{
    return path != nullptr && std::strcmp(path, BRIGHTNESS) == 0;
}

int open_any(const char* name, const char* path, int flags, va_list args)
{
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
    const int fd = real<int (*)(const char*, int, ...)>(name)(redirected(path), flags, mode);
    if (fd >= 0 && is_brightness(path))
        brightness_fd = fd;
    return fd;
}

FILE* fopen_any(const char* name, const char* path, const char* how)
{
    FILE* f = real<FILE* (*)(const char*, const char*)>(name)(redirected(path), how);
    if (f != nullptr && is_brightness(path))
        brightness_file = f;
    return f;
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const int fd = open_any("open", path, flags, args);
    va_end(args);
    return fd;
}

int open64(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const int fd = open_any("open64", path, flags, args);
    va_end(args);
    return fd;
}

FILE* fopen(const char* path, const char* how)
{
    return fopen_any("fopen", path, how);
}

FILE* fopen64(const char* path, const char* how)
{
    return fopen_any("fopen64", path, how);
}

int close(int fd)
{
    const int ret = real_close(fd);
    if (fd >= 0 && fd == brightness_fd) {
        note(BRIGHTNESS_CLOSED, now_ns());
        brightness_fd = -1;
    }
    return ret;
}

int fclose(FILE* f)
{
    const bool ours = f != nullptr && f == brightness_file;
    const int ret = real_fclose(f);
    if (ours) {
        note(BRIGHTNESS_CLOSED, now_ns());
        brightness_file = nullptr;
    }
    return ret;
}

pid_t fork()
{
    note(FORK, now_ns());
    return real_fork();
}

int execv(const char* path, char* const argv[])
{
    static char sleep_path[] = "/bin/sleep";
    static char sleep_arg[] = "86400";
    static char* const sleep_argv[] = {sleep_path, sleep_arg, nullptr};
    const auto exec = real<int (*)(const char*, char* const[])>("execv");
    if (std::strcmp(path, IMAGE_PROGRAM) == 0)
        return exec(sleep_path, sleep_argv);
    return exec(path, argv);
}

int execl(const char* path, const char* arg, ...)
{
    static char true_path[] = "/bin/true";
    static char* const true_argv[] = {true_path, nullptr};
    const auto exec = real<int (*)(const char*, char* const[])>("execv");
    if (std::strcmp(path, LIGHTSOUT) == 0)
        return exec(true_path, true_argv);
    // Any other: pass the list on as it came.
    char* argv[64] = {const_cast<char*>(arg)};
    va_list args;
    va_start(args, arg);
    for (int i = 1; i < 63 && argv[i - 1] != nullptr; ++i)
        argv[i] = va_arg(args, char*);
    va_end(args);
    argv[63] = nullptr;
    return exec(path, argv);
}

} // extern "C"
