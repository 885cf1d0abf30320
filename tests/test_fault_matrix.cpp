// Every kernel request of the three drawing programs, failed in turn on the fake
// device. The requests come from the device's log of a successful run, so a
// request that a program starts to make is failed too, and one without a known
// outcome fails the test.
//
// Each request is failed with a few errno values. A fatal request must give exactly
// its diagnostic (function and condition), then one line naming the request and
// the errno's text, and for a display refused to this program (EACCES, EPERM) one
// more naming who holds it, as the last lines the program writes; status 1, nothing
// but the run's own earlier lines before them, and the backlight as it was. The matrix (program x request ->
// outcome) is written to fault_matrix/<program>.txt in the build folder.
#include "program_run.h"
#include "support/fatal_conditions.h"
#include "support/printed.h"

#include <gtest/gtest.h>
#include <stb/stb_image_write.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* BACKLIGHT_BEFORE = "77\n";

struct program_case {
    std::string program;
    std::vector<std::string> args;
    std::string device;        // FAKE_DRM items besides log and backlight
    std::string keys;          // standard input (a pipe), or /dev/null when empty
    std::string fb_function;   // function named by the framebuffer diagnostics
    bool retries_commit;       // 11 attempts per commit (the interactive programs)
};

struct run_result {
    int status = -1;   // exit status; -1: still running (holding), then killed
    std::string output; // standard output and error together, in order
    std::string log;
    std::string backlight;
};

// Runs the program with stdout and stderr on one file, so the order of its
// lines and its diagnostic is kept.
run_result run(const program_case& c, const std::string& failure)
{
    fake_panel panel(BACKLIGHT_BEFORE);
    // The keys wait in the pipe before the program starts, so its first pass
    // already takes the first key and every run commits the same frames.
    run_options opt{c.device + (failure.empty() ? "" : ";" + failure), false,
                    c.keys.empty() ? stdin_kind::null_device : stdin_kind::pipe, c.keys};
    opt.merge_stderr = true;
    running_program p = start_on_panel(c.program, c.args, panel, opt);
    // panelshow holds its image for ever: once it has committed and waits in
    // pause(), it is holding. The others end by themselves.
    const finished_run f =
        c.program == "panelshow" ? finish_holding(p, panel, 30000) : finish(p, 30000);
    run_result r;
    r.status = f.status;
    // The -v time line differs from run to run.
    r.output = std::regex_replace(f.out, std::regex("[0-9]+\\.[0-9]{3} seconds"), "N seconds");
    r.log = read_file(panel.log_path());
    r.backlight = panel.backlight();
    return r;
}

struct request_occurrence {
    std::string request;
    int occurrence; // 1-based count of this request in the run
    bool before_first_frame;
    bool in_display_init; // before the framebuffer is made
};

std::vector<request_occurrence> requests_of(const std::string& log)
{
    std::vector<request_occurrence> out;
    std::map<std::string, int> seen;
    bool framed = false;
    bool init = true;
    std::istringstream lines(log);
    std::string name, result;
    while (lines >> name >> result) {
        init &= name != "CREATE_DUMB";
        out.push_back({name, ++seen[name], !framed, init});
        framed |= name == "ATOMIC" && result == "ok";
    }
    return out;
}

// The errno values each request is failed with: a refusal of the display, one of
// a size the device cannot take, and a plain invalid request.
std::vector<int> errors_for(const std::string& request)
{
    if (request == "ATOMIC")
        return {EINVAL, EACCES, EPERM, E2BIG};
    return {EINVAL, EACCES, E2BIG};
}

// The lines after a fatal request's diagnostic. The fake device is a pipe nobody
// else holds, so a refused display is "in use by another program".
std::string reason_lines(const program_case& c, const std::string& request, int error)
{
    std::string text = c.program + ": " + fatal_condition_of(request)->call + ": " + std::strerror(error) + "\n";
    const bool device_request = request != "OPEN" && request != "MMAP";
    if (device_request && (error == EACCES || error == EPERM))
        text += c.program + ": /dev/dri/card0 is in use by another program\n";
    return text;
}

enum class outcome_kind { fatal, carries_on, wait_reported };

struct fatal_expectation {
    outcome_kind kind;
    std::string function;  // fatal: the function the diagnostic names
    std::string condition; // fatal: its condition; wait_reported: the perror text
};

// What failing each request must do. A request missing here fails the test.
bool expectation_for(const program_case& c, const request_occurrence& q, int error,
                     fatal_expectation& e)
{
    const std::string& request = q.request;
    if (const fatal_condition* f = fatal_condition_of(request)) {
        if (f->step == fatal_step::display_init && q.in_display_init) {
            e = {outcome_kind::fatal, "display_init", f->condition};
            return true;
        }
        if (f->step != fatal_step::display_init) {
            e = {outcome_kind::fatal,
                 f->step == fatal_step::framebuffer ? c.fb_function : "display_flip",
                 f->condition};
            return true;
        }
    }
    // Asking the plane's formats or the modifier capability, and waiting for a
    // flip event before the next commit, carry on without them.
    if (request == "GETPLANE" || request == "GET_CAP" ||
        (c.retries_commit && (request == "POLL" || request == "READ"))) {
        e = {outcome_kind::carries_on, "", ""};
        return true;
    }
    // panelshow -v waiting for its flip: reported, and the image stays up.
    if (request == "POLL" || request == "READ") {
        e = {outcome_kind::wait_reported, "",
             std::string(request == "POLL" ? "poll: " : "read drm event: ") +
                 std::strerror(error) + "\n"};
        return true;
    }
    return false;
}

std::string last_line(const std::string& text)
{
    if (text.empty() || text.back() != '\n')
        return "";
    const size_t start = text.rfind('\n', text.size() - 2);
    return text.substr(start == std::string::npos ? 0 : start + 1);
}

// Checks one fatal run; returns the matrix cell ("display_init: !ret @ file:line").
std::string check_fatal(const program_case& c, const request_occurrence& q, int error,
                        const fatal_expectation& e, const run_result& r,
                        const run_result& reference)
{
    const std::string where = c.program + " " + q.request + " #" + std::to_string(q.occurrence) +
                              " " + strerrorname_np(error);
    const std::string reason = reason_lines(c, q.request, error);
    EXPECT_TRUE(r.output.ends_with(reason))
        << where << ": the output does not end with the reason\n" << reason << "whole output:\n"
        << r.output;
    const std::string shown =
        r.output.ends_with(reason) ? r.output.substr(0, r.output.size() - reason.size()) : r.output;
    const std::string diagnostic = last_line(shown);
    const std::regex pattern(c.program + ": (src/[a-z_/]+\\.cpp:[0-9]+): " + e.function +
                             ": Assertion `" + escape_regex(e.condition) + "' failed\\.\n");
    std::smatch m;
    EXPECT_TRUE(std::regex_match(diagnostic, m, pattern))
        << where << ": last line is \"" << diagnostic << "\", expected " << e.function << ": "
        << e.condition << "\nwhole output:\n"
        << r.output;
    EXPECT_EQ(r.status, 1) << where;

    // Before the diagnostic: the successful run's own lines up to that point, plus
    // the retry report for an interactive commit.
    std::string before = shown.substr(0, shown.size() - diagnostic.size());
    if (q.request == "ATOMIC" && c.retries_commit) {
        EXPECT_TRUE(before.size() >= std::strlen(TRIED_LINE) &&
                    before.ends_with(TRIED_LINE))
            << where << ": no retry report before the diagnostic:\n" << r.output;
        if (before.ends_with(TRIED_LINE))
            before.resize(before.size() - std::strlen(TRIED_LINE));
    }
    EXPECT_TRUE(reference.output.starts_with(before))
        << where << ": output that a successful run does not have:\n" << before;

    const std::string level = q.before_first_frame ? BACKLIGHT_BEFORE : "255\n";
    EXPECT_EQ(r.backlight, level) << where << ": the backlight must keep its level";
    return m.size() > 1 ? e.function + ": " + e.condition + " @ " + m[1].str() : "?";
}

std::string check_wait_reported(const program_case& c, const request_occurrence& q, int error,
                                const fatal_expectation& e, const run_result& r,
                                const run_result& reference)
{
    const std::string where = c.program + " " + q.request + " #" + std::to_string(q.occurrence) +
                              " " + strerrorname_np(error);
    EXPECT_EQ(r.status, -1) << where << ": the image must be held";
    const std::string first_line = reference.output.substr(0, reference.output.find('\n') + 1);
    EXPECT_EQ(r.output, first_line + e.condition) << where;
    EXPECT_EQ(r.backlight, BACKLIGHT_BEFORE) << where;
    return "reported on stderr, holds the image";
}

std::string check_carries_on(const program_case& c, const request_occurrence& q, int error,
                             const run_result& r, const run_result& reference)
{
    const std::string where = c.program + " " + q.request + " #" + std::to_string(q.occurrence) +
                              " " + strerrorname_np(error);
    EXPECT_EQ(r.status, reference.status) << where;
    EXPECT_EQ(r.output, reference.output) << where;
    EXPECT_EQ(r.backlight, reference.backlight) << where;
    return r.status == -1 ? "carries on: holds the image" : "carries on: status " +
                                                                std::to_string(r.status);
}

void write_matrix(const std::string& program, const std::vector<std::string>& rows)
{
    std::filesystem::create_directories(KDT_FAULT_MATRIX_DIR);
    std::ofstream out(std::string(KDT_FAULT_MATRIX_DIR) + "/" + program + ".txt");
    for (const std::string& row : rows) {
        out << row << "\n";
        std::printf("%s\n", row.c_str());
    }
}

// Fails every request of a successful run in turn; returns the matrix rows.
std::vector<std::string> fail_each_request(const program_case& c, run_result& reference)
{
    reference = run(c, "");
    const std::vector<request_occurrence> requests = requests_of(reference.log);
    EXPECT_GT(requests.size(), 20u) << c.program << ": reference run log:\n" << reference.log;
    EXPECT_NE(reference.log.find("ATOMIC ok"), std::string::npos)
        << c.program << ": the reference run showed no frame:\n" << reference.output;

    std::vector<std::string> rows;
    std::map<std::string, std::vector<std::string>> sites; // request -> source locations
    for (const request_occurrence& q : requests) {
        for (const int error : errors_for(q.request)) {
            fatal_expectation e;
            if (!expectation_for(c, q, error, e)) {
                ADD_FAILURE() << c.program << " makes the request " << q.request
                              << ", which has no expected outcome on failure";
                break;
            }
            const int count = q.request == "ATOMIC" && c.retries_commit ? 11 : 1;
            const std::string failure = "fail=" + q.request + ":" + std::to_string(q.occurrence) +
                                        ":" + std::to_string(count) + ":" + std::to_string(error);
            const run_result r = run(c, failure);
            const std::string cell =
                e.kind == outcome_kind::fatal ? check_fatal(c, q, error, e, r, reference)
                : e.kind == outcome_kind::carries_on
                    ? check_carries_on(c, q, error, r, reference)
                    : check_wait_reported(c, q, error, e, r, reference);
            char row[240];
            std::snprintf(row, sizeof row, "%-12s %-18s #%-3d %-7s %s", c.program.c_str(),
                          q.request.c_str(), q.occurrence, strerrorname_np(error), cell.c_str());
            rows.push_back(row);
            if (error == EINVAL)
                sites[q.request].push_back(cell);
        }
    }
    // Requests made at two different steps must be told apart by their location.
    for (const char* twice : {"SET_CLIENT_CAP", "GETCONNECTOR"}) {
        if (sites[twice].size() == 2) {
            EXPECT_NE(sites[twice][0], sites[twice][1])
                << c.program << ": both " << twice << " failures report the same place";
        }
    }
    return rows;
}

std::string write_png(const temp_dir& dir, int w, int h)
{
    std::vector<uint8_t> px(size_t(w) * h * 4);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = uint8_t(i * 13);
    const std::string path = dir.file("image.png");
    stbi_write_png(path.c_str(), w, h, 4, px.data(), w * 4);
    return path;
}

TEST(FaultMatrix, PanelshowEveryRequest)
{
    temp_dir dir;
    // A decoded image (so the plane's formats are asked) and -v (so the flip
    // event is waited for).
    const program_case c{"panelshow", {write_png(dir, 64, 32), "-v"}, "conn=64x32@60", "",
                         "display_create_fb", false};
    run_result reference;
    std::vector<std::string> rows = fail_each_request(c, reference);
    EXPECT_EQ(reference.status, -1) << "panelshow must hold its image";

    // A raw frame one byte short.
    write_file(dir.file("short.rgb"), std::string(64 * 32 * 4 - 1, 'x'));
    const program_case raw{"panelshow", {dir.file("short.rgb")}, "conn=64x32@60", "",
                           "display_create_fb", false};
    const run_result r = run(raw, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::regex_match(
        r.output, std::regex("Targeting mode\\[0\\] \\(64 x 32 @ 60Hz\\)\nimage .*short\\.rgb "
                             "doesn't match expected size \\(read 8191 bytes instead of 8192\\)\n"
                             "panelshow: src/[a-z_/]+\\.cpp:[0-9]+: display_create_fb: Assertion "
                             "`nread == MODE_WIDTH\\*MODE_HEIGHT\\*4' failed\\.\n")))
        << r.output;
    EXPECT_EQ(r.backlight, BACKLIGHT_BEFORE);
    rows.push_back("panelshow    short raw read     #1   display_create_fb: nread == "
                   "MODE_WIDTH*MODE_HEIGHT*4");
    write_matrix("panelshow", rows);
}

TEST(FaultMatrix, PanelcolorEveryRequest)
{
    // Two commits (the second waits for the first one's flip event), then Enter.
    const program_case c{"panelcolor", {}, "conn=64x32@60", "qq\n", "main", true};
    run_result reference;
    const std::vector<std::string> rows = fail_each_request(c, reference);
    EXPECT_EQ(reference.status, 0);
    EXPECT_EQ(reference.backlight, "0\n");
    write_matrix("panelcolor", rows);
}

TEST(FaultMatrix, PaneldefectEveryRequest)
{
    const program_case c{"paneldefect", {"1", "2", "3"}, "conn=4320x2160@75", "qq\n", "main",
                         true};
    run_result reference;
    const std::vector<std::string> rows = fail_each_request(c, reference);
    EXPECT_EQ(reference.status, 0);
    EXPECT_EQ(reference.backlight, "0\n");
    write_matrix("paneldefect", rows);
}

} // namespace
