#include "screen_io.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

namespace {

// Next header number of a PPM, skipping white space and comments.
bool ppm_number(std::istream& in, int& value)
{
    for (;;) {
        const int c = in.peek();
        if (c == '#') {
            std::string comment;
            std::getline(in, comment);
        } else if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
            in.get();
        } else {
            break;
        }
    }
    return static_cast<bool>(in >> value);
}

} // namespace

std::optional<picture> read_ppm(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open";
        return std::nullopt;
    }
    char magic[2] = {};
    in.read(magic, 2);
    int maxval = 0;
    picture pic;
    if (magic[0] != 'P' || magic[1] != '6' || !ppm_number(in, pic.width) ||
        !ppm_number(in, pic.height) || !ppm_number(in, maxval) || maxval != 255 ||
        pic.width <= 0 || pic.height <= 0) {
        error = path + ": not a P6 PPM with maxval 255";
        return std::nullopt;
    }
    in.get(); // the single white-space byte before the pixels
    pic.pixels.resize(size_t(pic.width) * pic.height * 3);
    in.read(reinterpret_cast<char*>(pic.pixels.data()), std::streamsize(pic.pixels.size()));
    if (in.gcount() != std::streamsize(pic.pixels.size())) {
        error = path + ": pixel data cut short";
        return std::nullopt;
    }
    return pic;
}

std::optional<picture> read_raw_frame(const std::string& path, int width, int height,
                                      std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open";
        return std::nullopt;
    }
    const size_t count = size_t(width) * height;
    std::vector<uint8_t> raw(count * 4);
    in.read(reinterpret_cast<char*>(raw.data()), std::streamsize(raw.size()));
    if (in.gcount() != std::streamsize(raw.size())) {
        error = path + ": shorter than one " + std::to_string(width) + "x" +
                std::to_string(height) + " frame";
        return std::nullopt;
    }
    picture pic{width, height, std::vector<uint8_t>(count * 3)};
    for (size_t i = 0; i < count; ++i) {
        pic.pixels[i * 3] = raw[i * 4 + 2];
        pic.pixels[i * 3 + 1] = raw[i * 4 + 1];
        pic.pixels[i * 3 + 2] = raw[i * 4];
    }
    return pic;
}

std::optional<picture> read_image(const std::string& path, std::string& error)
{
    int w = 0;
    int h = 0;
    int channels = 0;
    // Four channels, then alpha dropped. For JPEG and PNG this is a decode independent
    // of the programs' (libjpeg-turbo, libpng).
    unsigned char* data = stbi_load(path.c_str(), &w, &h, &channels, 4);
    if (!data) {
        error = path + ": " + stbi_failure_reason();
        return std::nullopt;
    }
    const size_t count = size_t(w) * h;
    picture pic{w, h, std::vector<uint8_t>(count * 3)};
    for (size_t i = 0; i < count; ++i)
        for (size_t c = 0; c < 3; ++c)
            pic.pixels[i * 3 + c] = data[i * 4 + c];
    stbi_image_free(data);
    return pic;
}

std::optional<rgb> parse_rgb(const std::string& text)
{
    std::string hex = text;
    if (hex.starts_with("#"))
        hex.erase(0, 1);
    else if (hex.starts_with("0x") || hex.starts_with("0X"))
        hex.erase(0, 2);
    if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
    const unsigned long v = std::strtoul(hex.c_str(), nullptr, 16);
    return rgb{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

std::string rgb_text(rgb c)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02x%02x%02x", c.r, c.g, c.b);
    return buf;
}

bool write_png(const std::string& path, const picture& pic)
{
    return stbi_write_png(path.c_str(), pic.width, pic.height, 3, pic.pixels.data(),
                          pic.width * 3) != 0;
}
