// How a failed kernel request of the display core ends the program: the step and
// the condition its diagnostic quotes, and the call the reason line after it
// names. The display-core tests and the fault matrix both check against this table.
#pragma once

#include <regex>
#include <string>
#include <vector>

enum class fatal_step { display_init, framebuffer, flip };

struct fatal_condition {
    const char* request;   // as the fake device names it in its log
    fatal_step step;
    const char* condition; // as the diagnostic quotes it
    const char* call;      // named by the reason on the next line
};

inline constexpr fatal_condition FATAL_CONDITIONS[] = {
    {"OPEN", fatal_step::display_init, "fd >= 0", "open /dev/dri/card0"},
    {"SET_CLIENT_CAP", fatal_step::display_init, "!ret", "DRM_IOCTL_SET_CLIENT_CAP"},
    {"GETRESOURCES", fatal_step::display_init, "!ret", "DRM_IOCTL_MODE_GETRESOURCES"},
    {"GETPLANERESOURCES", fatal_step::display_init, "!ret && plane_res.count_planes >= 1",
     "DRM_IOCTL_MODE_GETPLANERESOURCES"},
    {"GETCONNECTOR", fatal_step::display_init, "!ret", "DRM_IOCTL_MODE_GETCONNECTOR"},
    {"GETENCODER", fatal_step::display_init, "!ret", "DRM_IOCTL_MODE_GETENCODER"},
    {"OBJ_GETPROPERTIES", fatal_step::display_init, "!ret", "DRM_IOCTL_MODE_OBJ_GETPROPERTIES"},
    {"GETPROPERTY", fatal_step::display_init, "!ret", "DRM_IOCTL_MODE_GETPROPERTY"},
    {"CREATEPROPBLOB", fatal_step::display_init, "!ret", "DRM_IOCTL_MODE_CREATEPROPBLOB"},
    // Which CRTCs each plane can drive; asked again later for its formats, which
    // is not fatal.
    {"GETPLANE", fatal_step::display_init, "!ret", "DRM_IOCTL_MODE_GETPLANE"},
    {"CREATE_DUMB", fatal_step::framebuffer, "!ret", "DRM_IOCTL_MODE_CREATE_DUMB"},
    {"MAP_DUMB", fatal_step::framebuffer, "!ret", "DRM_IOCTL_MODE_MAP_DUMB"},
    {"MMAP", fatal_step::framebuffer, "mem != MAP_FAILED", "mmap"},
    {"ADDFB2", fatal_step::framebuffer, "!ret", "DRM_IOCTL_MODE_ADDFB2"},
    {"ATOMIC", fatal_step::flip, "!ret", "DRM_IOCTL_MODE_ATOMIC"},
};

// The row of a request, or null for one whose failure is not fatal.
inline const fatal_condition* fatal_condition_of(const std::string& request)
{
    for (const fatal_condition& c : FATAL_CONDITIONS)
        if (request == c.request)
            return &c;
    return nullptr;
}

inline std::vector<fatal_condition> fatal_conditions_of(fatal_step step)
{
    std::vector<fatal_condition> rows;
    for (const fatal_condition& c : FATAL_CONDITIONS)
        if (c.step == step)
            rows.push_back(c);
    return rows;
}

// A text as a regular expression that matches just that text.
inline std::string escape_regex(const std::string& s)
{
    return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}
