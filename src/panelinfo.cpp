// panelinfo: prints the manufacturing identification of both panels from the
// line of numbers that panelquery reports.
#include "common/clock.h"
#include "common/standard_fds.h"
#include "info/panel_info.h"
#include "launch/child.h"
#include "launch/install_paths.h"
#include "launch/outside.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// panelquery's first line must be there this long after its start; a panelquery
// that has given its line but goes on running is ended after as long again.
constexpr int QUERY_LINE_WAIT_MS = 5000;
constexpr int QUERY_END_WAIT_MS = 5000;
// How often the wait for the line looks whether panelquery has ended.
constexpr int QUERY_EXIT_POLL_MS = 10;

// How panelquery's first line came, or did not.
struct query_reading {
    panel_line line;
    bool ended;     // panelquery has ended and is reaped; status is its wait status
    int status;
    bool timed_out; // no line within QUERY_LINE_WAIT_MS; line is then none
};

void print_panel(std::span<const int32_t, PANEL_BLOCK> block, const char* label)
{
    panel_info info{};
    info.selector = block[PANEL_SELECTOR_POS];
    panel_info_decode(info, block);
    panel_info_print(info, label);
}

// Takes what the pipe holds now, without waiting. True when the line is complete
// or the pipe has ended (no writer left, or it cannot be read).
bool take_available(int fd, panel_line& line)
{
    std::array<char, 4096> buf;
    for (;;) {
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n > 0 && panel_line_add(line, {buf.data(), static_cast<std::size_t>(n)}))
            return true;
        if (n == 0)
            return true;
        if (n < 0 && errno != EINTR)
            return errno != EAGAIN;
    }
}

// The first line of panelquery's output, waited for until started_ms +
// QUERY_LINE_WAIT_MS at most. When panelquery ends, what it wrote is its line,
// even while a child of its own still holds the pipe.
query_reading read_first_line(const outside_start& query, int64_t started_ms)
{
    query_reading r{};
    fcntl(query.out_fd, F_SETFL, fcntl(query.out_fd, F_GETFL) | O_NONBLOCK);
    for (;;) {
        // Looked at before the pipe: what it wrote before it ended is in there.
        r.ended = child_has_ended(query.pid, r.status);
        if (take_available(query.out_fd, r.line) || r.ended)
            return r;
        const int64_t left = started_ms + QUERY_LINE_WAIT_MS - now_ms();
        if (left <= 0) {
            r.line.reset();
            r.timed_out = true;
            return r;
        }
        pollfd pfd{.fd = query.out_fd, .events = POLLIN, .revents = 0};
        poll(&pfd, 1, static_cast<int>(std::min<int64_t>(left, QUERY_EXIT_POLL_MS)));
    }
}

int no_panel_data(const std::string& reason)
{
    std::fprintf(stderr, "panelinfo: no panel data: %s %s\n", PANELQUERY_PATH, reason.c_str());
    return 1;
}

// What went wrong with panelquery itself, in words; empty when nothing did. Writing
// on after its line into the pipe we closed ends it by SIGPIPE (a shell wrapper
// then exits with 128 + SIGPIPE): that is no failure of its own.
std::string query_failure(int status, bool had_line)
{
    const bool cut_off = had_line && ((WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) ||
                                      (WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGPIPE));
    if (WIFSIGNALED(status) && !cut_off)
        return "ended by signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0 && !cut_off)
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    return "";
}

} // namespace

int main()
{
    open_standard_descriptors();
    keep_children_waitable();
    const int64_t started_ms = now_ms();
    const char* const argv[] = {PANELQUERY_PATH, nullptr};
    const outside_start query = start_outside({.path = PANELQUERY_PATH, .argv = argv,
                                               .launcher = nullptr, .failure_line = nullptr,
                                               .capture_stdout = true});
    query_reading reading{};
    if (query.pid > 0) {
        reading = read_first_line(query, started_ms);
        // Closed now, so that a panelquery that writes on does not block on a full pipe.
        close(query.out_fd);
    }
    const panel_line& line = reading.line;

    std::size_t numbers_read = 0;
    const panel_numbers numbers = parse_panel_numbers(line.value_or(""), &numbers_read);
    const std::span<const int32_t, PANEL_NUMBERS> all{numbers};
    print_panel(all.first<PANEL_BLOCK>(), "Left Panel");
    print_panel(all.last<PANEL_BLOCK>(), "Right Panel");
    std::fflush(stdout);

    if (query.pid <= 0)
        return no_panel_data(std::string("cannot be started: ") + std::strerror(query.error));
    if (reading.timed_out) {
        kill_and_reap(query.pid);
        return no_panel_data("printed no line within 5 s");
    }
    int status = reading.status;
    std::string failure;
    if (reading.ended || reap_within(query.pid, QUERY_END_WAIT_MS, status))
        failure = query_failure(status, line.has_value());
    if (numbers_read == 0)
        return no_panel_data(!failure.empty() ? failure
                             : line           ? "printed no numbers"
                                              : "printed no line");
    // The numbers read are shown, but a panelquery that failed is not trusted with a 0.
    if (!failure.empty()) {
        std::fprintf(stderr, "panelinfo: %s %s\n", PANELQUERY_PATH, failure.c_str());
        return 1;
    }
    return 0;
}
