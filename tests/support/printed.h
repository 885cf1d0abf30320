// What a function that prints to a FILE* writes, as one string: the printers
// take their stream as an argument, so a memory stream stands in for stdout.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

// Lines the programs print that tests in several files compare.
inline constexpr const char* ENDING = "exiting... Turning off backlight\n";
inline constexpr const char* TRIED_LINE =
    "Tried 10 times to update display... ret = 0xffffffff\n";

// Calls print(FILE*) on a fresh memory stream and returns all it wrote.
template <typename F>
std::string printed(F print)
{
    char* data = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&data, &size);
    print(out);
    std::fclose(out);
    std::string text(data, size);
    std::free(data);
    return text;
}
