// panelinfo: prints the manufacturing identification of both panels from the
// line of numbers that panelquery reports.
#include "common/standard_fds.h"
#include "info/panel_info.h"
#include "launch/child.h"
#include "launch/install_paths.h"
#include "launch/outside.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A panelquery that has given its line but goes on running is ended after this.
constexpr int QUERY_END_WAIT_MS = 5000;

void print_panel(std::span<const int32_t, PANEL_BLOCK> block, const char* label)
{
    panel_info info{};
    info.selector = block[PANEL_SELECTOR_POS];
    panel_info_decode(info, block);
    panel_info_print(info, label);
}

// The first line of the program's output; none when it gives none.
panel_line first_line(const outside_start& query)
{
    FILE* in = fdopen(query.out_fd, "r");
    if (in == nullptr) {
        close(query.out_fd);
        return std::nullopt;
    }
    panel_line line = read_panel_line(in);
    // Closed now, so that a panelquery that writes on does not block on a full pipe.
    std::fclose(in);
    return line;
}

int no_panel_data(const std::string& reason)
{
    std::fprintf(stderr, "panelinfo: no panel data: %s %s\n", PANELQUERY_PATH, reason.c_str());
    return 1;
}

} // namespace

int main()
{
    open_standard_descriptors();
    panel_line line{};
    const char* const argv[] = {PANELQUERY_PATH, nullptr};
    const outside_start query = start_outside({.path = PANELQUERY_PATH, .argv = argv,
                                               .launcher = nullptr, .failure_line = nullptr,
                                               .capture_stdout = true});
    if (query.pid > 0)
        line = first_line(query);

    const panel_numbers numbers = parse_panel_numbers(line.value_or(""));
    const std::span<const int32_t, PANEL_NUMBERS> all{numbers};
    print_panel(all.first<PANEL_BLOCK>(), "Left Panel");
    print_panel(all.last<PANEL_BLOCK>(), "Right Panel");
    std::fflush(stdout);

    if (query.pid <= 0)
        return no_panel_data(std::string("cannot be started: ") + std::strerror(query.error));
    int status = 0;
    if (reap_within(query.pid, QUERY_END_WAIT_MS, status)) {
        // Writing on after its line into the pipe we closed ends it by SIGPIPE:
        // that is no failure of its own.
        const bool cut_off = line && WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE;
        if (WIFSIGNALED(status) && !cut_off)
            return no_panel_data("ended by signal " + std::to_string(WTERMSIG(status)));
        if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
            return no_panel_data("exited with status " + std::to_string(WEXITSTATUS(status)));
    }
    if (!line)
        return no_panel_data("printed no line");
    return 0;
}
