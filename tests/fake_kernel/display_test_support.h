// Helpers shared by the display-core tests on the fake device.
#pragma once

#include "fake_drm.h"

#include <drm_mode.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

// The decoded argument of a recorded request.
template <typename T>
T arg_of(const fake_call& c)
{
    T v{};
    std::memcpy(&v, c.arg.data(), std::min(sizeof v, c.arg.size()));
    return v;
}

inline std::vector<fake_req> requests_of(const std::vector<fake_call>& calls)
{
    std::vector<fake_req> out;
    for (const fake_call& c : calls)
        out.push_back(c.request);
    return out;
}

inline std::string names_of(const std::vector<fake_req>& reqs)
{
    std::string s;
    for (fake_req r : reqs)
        s += std::string(fake_req_name(r)) + " ";
    return s;
}

// Regular expression for the fatal diagnostic and the reason on the line after it
// (REASON_NEXT between the lines of a reason of two).
inline constexpr const char* REASON_NEXT = "\ntest_display: ";
inline std::string fatal_line(const std::string& file, const std::string& function,
                              const std::string& condition_regex, const std::string& reason_regex)
{
    return "^test_display: src/display/" + file + ":[0-9]+: " + function + ": Assertion `" +
           condition_regex + "' failed\\.\ntest_display: " + reason_regex + "\n$";
}

// A log file that survives a death test's child, for "what happened before the end".
struct request_log {
    std::string path;
    request_log()
    {
        char tmpl[] = "/tmp/fake-drm-log-XXXXXX";
        const int fd = mkstemp(tmpl);
        close(fd);
        path = tmpl;
    }
    ~request_log() { unlink(path.c_str()); }
    std::string text() const
    {
        std::ifstream in(path);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};
