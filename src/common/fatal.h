// One fatal check for every display, framebuffer, image and commit step.
//
// On failure: flush stdout (so the program's own lines come first), write one
// line to stderr in the form the C library's assert uses, then the reason, if the
// check gives one, each of its lines after the program's name, and end the
// process with status 1 at once. Nothing is closed, unmapped or released: the
// kernel does that when the process ends, and the backlight keeps its level.
#pragma once

#include <climits>
#include <cstdio>
#include <cstring>

[[noreturn]] void fatal_check_failed(const char* file, int line, const char* function,
                                     const char* condition, const char* reason = nullptr);

// `function` is the name the diagnostic reports (display_init, display_create_fb,
// display_flip or main), which is not always the C++ function the check sits in.
#define FATAL_CHECK(cond, function) \
    ((cond) ? (void)0 : fatal_check_failed(__FILE__, __LINE__, (function), #cond))

// The same with a reason: lines ending in '\n', evaluated only when the check fails,
// so a reason that reads errno reads it right after the failed call.
#define FATAL_CHECK_WHY(cond, function, reason) \
    ((cond) ? (void)0 : fatal_check_failed(__FILE__, __LINE__, (function), #cond, (reason)))

// A failure found without a condition to test (the decoder refused the file, the
// connector has no such mode): the diagnostic names the condition it stands for.
#define FATAL_FAIL(condition_text, function) \
    fatal_check_failed(__FILE__, __LINE__, (function), (condition_text))
#define FATAL_FAIL_WHY(condition_text, function, reason) \
    fatal_check_failed(__FILE__, __LINE__, (function), (condition_text), (reason))

// A failed system call in words: "CALL: <strerror(error)>\n", in a buffer of its own
// that lasts until the process ends. Inline, so that a build which puts its own
// fatal_check_failed in place of ours (the fuzz targets) links without it.
inline const char* call_failed(const char* call, int error)
{
    static char text[PATH_MAX + 128]; // a call named with a file's path, and the reason
    std::snprintf(text, sizeof text, "%s: %s\n", call, std::strerror(error));
    return text;
}
