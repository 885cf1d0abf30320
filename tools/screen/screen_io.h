// Pictures as the test tools see them: 8-bit red, green, blue per pixel, rows packed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct rgb {
    uint8_t r, g, b;
    bool operator==(const rgb&) const = default;
};

struct picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels; // r, g, b per pixel

    rgb at(int x, int y) const
    {
        const size_t i = (size_t(y) * width + x) * 3;
        return {pixels[i], pixels[i + 1], pixels[i + 2]};
    }
};

// A binary PPM (P6, maxval 255), as QEMU's screendump writes it.
std::optional<picture> read_ppm(const std::string& path, std::string& error);

// A raw frame: width x height pixels of blue, green, red, ignored bytes.
std::optional<picture> read_raw_frame(const std::string& path, int width, int height,
                                      std::string& error);

// Any image stb_image decodes; alpha is dropped.
std::optional<picture> read_image(const std::string& path, std::string& error);

// "RRGGBB" (an optional "#" or "0x" in front) to a colour.
std::optional<rgb> parse_rgb(const std::string& text);
std::string rgb_text(rgb c);

bool write_png(const std::string& path, const picture& pic);
