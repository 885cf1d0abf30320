// Real encodings for tests, seeds and benchmarks, written by the encoders of
// libjpeg-turbo and libpng into memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct jpeg_encoding {
    int components = 3; // 1 grey, 3 red/green/blue stored as YCbCr, 4 CMYK
    int h_sampling = 2; // of the first component; the others are 1 x 1
    int v_sampling = 2;
    bool progressive = false;
    int restart_rows = 0; // a restart marker every this many MCU rows (0: none)
    int quality = 90;
    int scans = 0; // progressive in exactly this many scans (grey only, 3 to 128)
};

// px: `components` bytes a pixel, rows packed.
std::string encode_jpeg(const uint8_t* px, int w, int h, const jpeg_encoding& how);

struct png_encoding {
    int colour_type = 2; // PNG_COLOR_TYPE_*
    int bit_depth = 8;
    bool interlaced = false;
    std::vector<uint8_t> palette;      // red, green, blue triples
    std::vector<uint8_t> transparency; // the tRNS chunk's bytes
};

// rows: the samples as PNG stores them (16-bit ones big-endian), rows packed.
std::string encode_png(const uint8_t* rows, int w, int h, const png_encoding& how);
