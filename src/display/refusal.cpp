#include "display/refusal.h"
#include "display/display.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool same_file(const struct stat& a, const struct stat& b)
{
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode))
        return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether process directory `pid_dir` has a descriptor open on `device`.
bool holds(const char* pid_dir, const struct stat& device)
{
    char path[1024];
    std::snprintf(path, sizeof path, "%s/fd", pid_dir);
    DIR* fds = opendir(path);
    if (!fds)
        return false;
    bool found = false;
    while (const dirent* e = readdir(fds)) {
        if (e->d_name[0] == '.')
            continue;
        std::snprintf(path, sizeof path, "%s/fd/%s", pid_dir, e->d_name);
        struct stat st{};
        if (stat(path, &st) == 0 && same_file(st, device)) {
            found = true;
            break;
        }
    }
    closedir(fds);
    return found;
}

// The process's name as the kernel keeps it (comm), without the newline.
void read_comm(const char* pid_dir, char* out, size_t room)
{
    char path[1024];
    std::snprintf(path, sizeof path, "%s/comm", pid_dir);
    std::snprintf(out, room, "?");
    if (FILE* f = std::fopen(path, "r")) {
        if (std::fgets(out, static_cast<int>(room), f))
            out[std::strcspn(out, "\n")] = '\0';
        std::fclose(f);
    }
}

} // namespace

size_t describe_holders(int fd, const char* proc_root, char* out, size_t room)
{
    int n = std::snprintf(out, room, "%s is in use by", DRM_DEVICE_PATH);
    struct stat device{};
    DIR* procs = fstat(fd, &device) == 0 ? opendir(proc_root) : nullptr;
    int listed = 0;
    const long self = getpid();
    while (procs && n >= 0 && static_cast<size_t>(n) < room) {
        const dirent* e = readdir(procs);
        if (!e)
            break;
        char* end = nullptr;
        const long pid = std::strtol(e->d_name, &end, 10);
        if (end == e->d_name || *end != '\0' || pid == self)
            continue;
        char dir[512];
        std::snprintf(dir, sizeof dir, "%s/%s", proc_root, e->d_name);
        if (!holds(dir, device))
            continue;
        char comm[64];
        read_comm(dir, comm, sizeof comm);
        n += std::snprintf(out + n, room - static_cast<size_t>(n), "%s %s (pid %ld)",
                           listed == 0 ? ":" : ",", comm, pid);
        ++listed;
    }
    if (procs)
        closedir(procs);
    if (listed == 0 && n >= 0 && static_cast<size_t>(n) < room)
        n += std::snprintf(out + n, room - static_cast<size_t>(n), " another program");
    if (n < 0)
        return 0;
    return static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1;
}

const char* request_failed(int fd, const char* request, int error)
{
    static char text[1024];
    size_t n = static_cast<size_t>(
        std::snprintf(text, sizeof text, "%s: %s\n", request, std::strerror(error)));
    if ((error == EACCES || error == EPERM) && fd >= 0 && n + 2 < sizeof text) {
        n += describe_holders(fd, "/proc", text + n, sizeof text - n - 1);
        text[n++] = '\n';
        text[n] = '\0';
    }
    return text;
}
