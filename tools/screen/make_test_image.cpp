// make_test_image: deterministic test pictures for the display programs.
//
//   make_test_image raw  OUT [--width W] [--height H] [--bytes N]
//       raw frame: blue, green, red, X per pixel; every pixel differs from its four
//       neighbours (hashed coordinates, with the low blue bit alternating like a
//       chequerboard). --bytes cuts or pads the file to N bytes.
//   make_test_image png  OUT [--width W] [--height H]   red, green, blue, alpha
//   make_test_image jpeg OUT [--width W] [--height H] [--quality Q]
//   make_test_image bmp  OUT [--width W] [--height H]
//   make_test_image photo-png|photo-jpeg OUT [--width W] [--height H] [--quality Q]
//
// The decoded formats share one pattern: red = x mod 256, green = y mod 256, blue =
// 1 + 9 (x / 256) + y / 256 (unique up to 2304 rows), so a pixel's colour says where it belongs. PNG alpha steps
// through 0, 85, 170, 255 in 16 x 16 blocks; no colour is black, so a fully
// transparent pixel still has a colour to show. Photographs are smooth gradients
// and soft shapes with a fine grain, as a camera's pictures are, red, green, blue.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stb/stb_image_write.h>
#include <string>
#include <vector>

namespace {

struct options {
    std::string kind;
    std::string out;
    int width = 4320;
    int height = 2160;
    long bytes = -1;
    int quality = 90;
};

uint32_t hash(uint32_t x, uint32_t y)
{
    uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

std::vector<uint8_t> raw_frame(const options& o)
{
    std::vector<uint8_t> frame(size_t(o.width) * o.height * 4);
    for (int y = 0; y < o.height; ++y) {
        for (int x = 0; x < o.width; ++x) {
            const uint32_t h = hash(x, y);
            uint8_t* p = &frame[(size_t(y) * o.width + x) * 4];
            p[0] = uint8_t((h & 0xFE) | ((x + y) & 1)); // blue
            p[1] = uint8_t(h >> 8);                     // green
            p[2] = uint8_t(h >> 16);                    // red
            p[3] = uint8_t(h >> 24);                    // ignored by the display
        }
    }
    return frame;
}

std::vector<uint8_t> pattern(const options& o, int channels)
{
    constexpr uint8_t ALPHA[4] = {0, 85, 170, 255};
    std::vector<uint8_t> px(size_t(o.width) * o.height * channels);
    for (int y = 0; y < o.height; ++y) {
        for (int x = 0; x < o.width; ++x) {
            uint8_t* p = &px[(size_t(y) * o.width + x) * channels];
            p[0] = uint8_t(x);
            p[1] = uint8_t(y);
            p[2] = uint8_t((x >> 8) * 9 + (y >> 8) + 1);
            if (channels == 4)
                p[3] = ALPHA[((x >> 4) + (y >> 4)) & 3];
        }
    }
    return px;
}

std::vector<uint8_t> photo(const options& o)
{
    std::vector<uint8_t> px(size_t(o.width) * o.height * 3);
    for (int y = 0; y < o.height; ++y)
        for (int x = 0; x < o.width; ++x) {
            const double fx = x / double(o.width), fy = y / double(o.height);
            const double shape = std::sin(fx * 9 + std::cos(fy * 7) * 2) * std::cos(fy * 11 - fx * 3);
            const double base[3] = {90 + 80 * fy + 50 * shape, 120 + 60 * std::sin(fx * 5) - 40 * shape,
                                    160 - 90 * fy + 30 * std::cos(fx * 13 + fy * 4)};
            const uint32_t grain = hash(x, y);
            for (int c = 0; c < 3; ++c)
                px[(size_t(y) * o.width + x) * 3 + c] =
                    uint8_t(std::clamp(base[c] + int(grain >> (8 * c) & 15) - 8, 0.0, 255.0));
        }
    return px;
}

bool write_raw(const options& o)
{
    std::vector<uint8_t> frame = raw_frame(o);
    if (o.bytes >= 0)
        frame.resize(size_t(o.bytes), 0);
    std::ofstream out(o.out, std::ios::binary);
    out.write(reinterpret_cast<const char*>(frame.data()), std::streamsize(frame.size()));
    return static_cast<bool>(out);
}

bool write(const options& o)
{
    if (o.kind == "raw")
        return write_raw(o);
    if (o.kind == "png")
        return stbi_write_png(o.out.c_str(), o.width, o.height, 4, pattern(o, 4).data(),
                              o.width * 4) != 0;
    if (o.kind == "jpeg")
        return stbi_write_jpg(o.out.c_str(), o.width, o.height, 3, pattern(o, 3).data(),
                              o.quality) != 0;
    if (o.kind == "photo-png")
        return stbi_write_png(o.out.c_str(), o.width, o.height, 3, photo(o).data(),
                              o.width * 3) != 0;
    if (o.kind == "photo-jpeg")
        return stbi_write_jpg(o.out.c_str(), o.width, o.height, 3, photo(o).data(),
                              o.quality) != 0;
    if (o.kind == "bmp")
        return stbi_write_bmp(o.out.c_str(), o.width, o.height, 3, pattern(o, 3).data()) != 0;
    return false;
}

int usage()
{
    std::fputs("usage: make_test_image raw|png|jpeg|bmp|photo-png|photo-jpeg OUT [--width W] [--height H] "
               "[--bytes N (raw)] [--quality Q (jpeg)]\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    options o{.kind = argv[1], .out = argv[2]};
    for (int i = 3; i + 1 < argc; i += 2) {
        const long v = std::strtol(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--width") == 0)
            o.width = int(v);
        else if (std::strcmp(argv[i], "--height") == 0)
            o.height = int(v);
        else if (std::strcmp(argv[i], "--bytes") == 0)
            o.bytes = v;
        else if (std::strcmp(argv[i], "--quality") == 0)
            o.quality = int(v);
        else
            return usage();
    }
    if ((argc - 3) % 2 != 0 || o.width <= 0 || o.height <= 0 ||
        (o.kind != "raw" && o.kind != "png" && o.kind != "jpeg" && o.kind != "bmp" &&
         o.kind != "photo-png" && o.kind != "photo-jpeg"))
        return usage();
    if (!write(o)) {
        std::fprintf(stderr, "make_test_image: cannot write %s\n", o.out.c_str());
        return 1;
    }
    return 0;
}
