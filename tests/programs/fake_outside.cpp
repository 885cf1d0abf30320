// Stand-in for the outside programs in whole-program tests. What it does depends
// on the name it is installed under:
//   panelshow  - records its start, then runs until killed, or exits at once with
//                $KDT_FAKE_PANELSHOW_EXIT when that is set (an image it cannot load);
//   lightsout  - records its start, exits with $KDT_FAKE_LIGHTSOUT_STATUS (0);
//   panelquery - prints $KDT_FAKE_PANELQUERY_LINE and a newline (nothing when it is
//                unset), then exits with $KDT_FAKE_PANELQUERY_STATUS (0), or runs
//                until killed when $KDT_FAKE_PANELQUERY_HANG is set. With
//                $KDT_FAKE_PANELQUERY_LINGER set the newline is left out and a
//                child that keeps stdout open runs on until killed; its pid is
//                recorded after the query's own. With $KDT_FAKE_PANELQUERY_MORE set it
//                writes on once its reader has gone (and so meets SIGPIPE).
// The record, one line appended to $KDT_FAKE_EVENTS (the tests' backlight FIFO,
// so it lands in order among the brightness writes):
//   <name> pid=<pid> argv=<argv0>|<argv1>|... alive=<earlier pids still present>
// Earlier pids come from $KDT_FAKE_PIDS, where each start appends its own pid: an
// earlier one still present is a second image program alive, or a zombie. A
// program started with signals blocked or ignored adds " SigBlk=<mask>
// SigIgn=<mask>" (from /proc/self/status): it should start as from a shell.
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string env(const char* name, const char* fallback = "")
{
    const char* v = std::getenv(name);
    return v != nullptr ? v : fallback;
}

std::string own_name()
{
    char exe[PATH_MAX] = {};
    if (readlink("/proc/self/exe", exe, sizeof exe - 1) < 0)
        return "unknown";
    const char* slash = std::strrchr(exe, '/');
    return slash != nullptr ? slash + 1 : exe;
}

std::string signals_not_default()
{
    std::ifstream file("/proc/self/status");
    const std::string status{std::istreambuf_iterator<char>(file), {}};
    std::string masks;
    for (const char* key : {"\nSigBlk:\t", "\nSigIgn:\t"}) {
        const std::string mask = status.substr(status.find(key) + 9, 16);
        masks += mask != std::string(16, '0') ? " " + std::string(key + 1, 6) + "=" + mask : "";
    }
    return masks;
}

std::string earlier_pids_alive()
{
    std::string alive;
    FILE* f = std::fopen(env("KDT_FAKE_PIDS").c_str(), "r");
    if (f == nullptr)
        return alive;
    int pid = 0;
    while (std::fscanf(f, "%d", &pid) == 1) {
        struct stat st{};
        if (pid != getpid() && stat(("/proc/" + std::to_string(pid)).c_str(), &st) == 0)
            alive += (alive.empty() ? "" : ",") + std::to_string(pid);
    }
    std::fclose(f);
    return alive;
}

void append(const std::string& path, const std::string& text)
{
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0)
        return;
    if (write(fd, text.data(), text.size()) < 0) {
        // nothing to do: the test sees the record missing
    }
    close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string name = own_name();
    std::string record = name + " pid=" + std::to_string(getpid()) + " argv=";
    for (int i = 0; i < argc; ++i)
        record += (i ? "|" : "") + std::string(argv[i]);
    record += " alive=" + earlier_pids_alive() + signals_not_default() + "\n";
    if (name != "panelquery") {
        append(env("KDT_FAKE_PIDS"), std::to_string(getpid()) + "\n");
        append(env("KDT_FAKE_EVENTS"), record);
    }

    if (name == "panelshow" && std::getenv("KDT_FAKE_PANELSHOW_EXIT") != nullptr)
        return std::atoi(env("KDT_FAKE_PANELSHOW_EXIT").c_str());
    if (name == "panelquery") {
        const bool linger = std::getenv("KDT_FAKE_PANELQUERY_LINGER") != nullptr;
        if (std::getenv("KDT_FAKE_PANELQUERY_LINE") != nullptr)
            std::printf(linger ? "%s" : "%s\n", env("KDT_FAKE_PANELQUERY_LINE").c_str());
        std::fflush(stdout);
        if (linger) {
            const pid_t keeper = fork();
            if (keeper == 0) {
                dup2(open("/dev/null", O_WRONLY), STDERR_FILENO); // the test reads stderr
                for (;;)
                    pause();
            }
            record += "keeper pid=" + std::to_string(keeper) + "\n";
        }
        append(env("KDT_FAKE_QUERY_LOG"), record);
        pollfd out{.fd = STDOUT_FILENO, .events = 0, .revents = 0}; // POLLERR: no reader
        while (std::getenv("KDT_FAKE_PANELQUERY_MORE") != nullptr && poll(&out, 1, -1) >= 0 &&
               !(out.revents & POLLERR)) {
        }
        if (std::getenv("KDT_FAKE_PANELQUERY_MORE") != nullptr)
            std::printf("more\n");
        if (std::getenv("KDT_FAKE_PANELQUERY_HANG") == nullptr)
            return std::atoi(env("KDT_FAKE_PANELQUERY_STATUS", "0").c_str());
    }
    if (name == "panelshow" || name == "panelquery") {
        for (;;)
            pause();
    }
    return std::atoi(env("KDT_FAKE_LIGHTSOUT_STATUS", "0").c_str());
}
