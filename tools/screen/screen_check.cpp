// screen_check: compares a screendump (PPM) with what should be on the screen.
// Exit 0 on a match; 1 with the first differing pixel, both colours and the count
// of differing pixels; 2 on a usage or file error.
#include "screen_io.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>

namespace {

constexpr const char* USAGE =
    "usage: screen_check raw DUMP.ppm FRAME.rgb     byte for byte (blue, green, red, X)\n"
    "       screen_check image DUMP.ppm IMAGE [LEVELS]\n"
    "                                               decoded with stb_image, alpha ignored;\n"
    "                                               each channel within LEVELS (default 0)\n"
    "       screen_check except DUMP.ppm RRGGBB [X,Y=RRGGBB ...]\n"
    "                                               one colour except the listed pixels\n"
    "       screen_check columns DUMP.ppm EVEN ODD [both|left|right|none]\n"
    "                                               even/odd columns in the enabled halves,\n"
    "                                               black in the others\n"
    "       screen_check to-png DUMP.ppm OUT.png\n";

int usage()
{
    std::fputs(USAGE, stderr);
    return 2;
}

int file_error(const std::string& error)
{
    std::fprintf(stderr, "screen_check: %s\n", error.c_str());
    return 2;
}

// Walks every pixel; reports the first that differs from expected(x, y) and the count.
int compare(const picture& dump, const std::string& what,
            const std::function<rgb(int, int)>& expected, int levels = 0)
{
    auto near = [levels](uint8_t a, uint8_t b) { return std::abs(a - b) <= levels; };
    size_t differing = 0;
    int first_x = -1;
    int first_y = -1;
    rgb want{};
    rgb got{};
    for (int y = 0; y < dump.height; ++y) {
        for (int x = 0; x < dump.width; ++x) {
            const rgb e = expected(x, y);
            const rgb d = dump.at(x, y);
            if (near(e.r, d.r) && near(e.g, d.g) && near(e.b, d.b))
                continue;
            if (differing++ == 0) {
                first_x = x;
                first_y = y;
                want = e;
                got = d;
            }
        }
    }
    if (differing == 0) {
        std::printf("screen matches %s\n", what.c_str());
        return 0;
    }
    std::printf("screen differs from %s: first at pixel %d,%d: expected %s, got %s; "
                "%zu pixels differ\n",
                what.c_str(), first_x, first_y, rgb_text(want).c_str(), rgb_text(got).c_str(),
                differing);
    return 1;
}

bool same_size(const picture& dump, int width, int height, const std::string& what)
{
    if (dump.width == width && dump.height == height)
        return true;
    std::printf("screen size differs from %s: expected %dx%d, got %dx%d\n", what.c_str(), width,
                height, dump.width, dump.height);
    return false;
}

int check_picture(const picture& dump, const picture& want, const std::string& what,
                  int levels = 0)
{
    if (!same_size(dump, want.width, want.height, what))
        return 1;
    return compare(dump, what, [&](int x, int y) { return want.at(x, y); }, levels);
}

int check_except(const picture& dump, int argc, char** argv)
{
    const auto background = parse_rgb(argv[3]);
    if (!background)
        return usage();
    std::map<std::pair<int, int>, rgb> listed;
    for (int i = 4; i < argc; ++i) {
        int x = 0;
        int y = 0;
        char colour[16] = {};
        const auto c = std::sscanf(argv[i], "%d,%d=%15s", &x, &y, colour) == 3
                           ? parse_rgb(colour)
                           : std::nullopt;
        if (!c || x < 0 || y < 0 || x >= dump.width || y >= dump.height) {
            std::fprintf(stderr, "screen_check: bad pixel '%s' (X,Y=RRGGBB inside %dx%d)\n",
                         argv[i], dump.width, dump.height);
            return 2;
        }
        listed[{x, y}] = *c;
    }
    const std::string what = "uniform " + rgb_text(*background) + " with " +
                             std::to_string(listed.size()) + " listed pixels";
    return compare(dump, what, [&](int x, int y) {
        const auto it = listed.find({x, y});
        return it == listed.end() ? *background : it->second;
    });
}

int check_columns(const picture& dump, int argc, char** argv)
{
    const auto even = parse_rgb(argv[3]);
    const auto odd = parse_rgb(argv[4]);
    const std::string halves = argc > 5 ? argv[5] : "both";
    if (!even || !odd || argc > 6)
        return usage();
    const bool left = halves == "both" || halves == "left";
    const bool right = halves == "both" || halves == "right";
    if (!left && !right && halves != "none")
        return usage();
    const int half = dump.width / 2;
    const std::string what = "columns " + rgb_text(*even) + "/" + rgb_text(*odd) +
                             " (halves on: " + halves + ")";
    return compare(dump, what, [&](int x, int) {
        const bool on = x < half ? left : right;
        return on ? (x % 2 == 0 ? *even : *odd) : rgb{0, 0, 0};
    });
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    const std::string command = argv[1];
    std::string error;
    const auto dump = read_ppm(argv[2], error);
    if (!dump)
        return file_error(error);

    if (command == "raw" && argc == 4) {
        const auto frame = read_raw_frame(argv[3], dump->width, dump->height, error);
        return frame ? check_picture(*dump, *frame, std::string("raw frame ") + argv[3])
                     : file_error(error);
    }
    if (command == "image" && (argc == 4 || argc == 5)) {
        // JPEG decoders may differ by a few levels; stb_image is the independent one.
        const int levels = argc == 5 ? std::atoi(argv[4]) : 0;
        const auto image = read_image(argv[3], error);
        return image ? check_picture(*dump, *image, std::string("image ") + argv[3], levels)
                     : file_error(error);
    }
    if (command == "except" && argc >= 4)
        return check_except(*dump, argc, argv);
    if (command == "columns" && argc >= 5)
        return check_columns(*dump, argc, argv);
    if (command == "to-png" && argc == 4) {
        if (!write_png(argv[3], *dump))
            return file_error(std::string(argv[3]) + ": cannot write");
        std::printf("%s\n", argv[3]);
        return 0;
    }
    return usage();
}
