#include "image_encoders.h"

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <utility>
#include <jpeglib.h>
#include <png.h>

namespace {

// DC, the AC coefficients' high bits, then two refinement bits, each split into
// bands so that the scans add up to `count`.
std::vector<jpeg_scan_info> grey_scans(int count)
{
    std::vector<jpeg_scan_info> scans = {{1, {0}, 0, 0, 0, 0}, {1, {0}, 1, 63, 0, 2}};
    const int first_bands = std::min(63, count - 3);
    for (const auto& [bands, bit] : {std::pair{first_bands, 2}, std::pair{count - 2 - first_bands, 1}})
        for (int i = 0; i < bands; ++i)
            scans.push_back({1, {0}, 1 + i * 63 / bands, (i + 1) * 63 / bands, bit, bit - 1});
    return scans;
}

} // namespace

std::string encode_jpeg(const uint8_t* px, int w, int h, const jpeg_encoding& how)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err); // a failing encoder ends the test program
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = how.components;
    c.in_color_space = how.components == 1 ? JCS_GRAYSCALE
                       : how.components == 4 ? JCS_CMYK
                                             : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, how.quality, TRUE);
    c.comp_info[0].h_samp_factor = how.h_sampling;
    c.comp_info[0].v_samp_factor = how.v_sampling;
    c.restart_in_rows = how.restart_rows;
    if (how.progressive)
        jpeg_simple_progression(&c);
    const std::vector<jpeg_scan_info> scans = how.scans ? grey_scans(how.scans)
                                                        : std::vector<jpeg_scan_info>{};
    if (how.scans) {
        c.scan_info = scans.data();
        c.num_scans = int(scans.size());
    }
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(px) + size_t(c.next_scanline) * w * how.components;
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::string file(reinterpret_cast<char*>(out), size);
    std::free(out);
    return file;
}

namespace {

void append(png_structp png, png_bytep data, size_t n)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), n);
}

void no_flush(png_structp) {}

} // namespace

std::string encode_png(const uint8_t* rows, int w, int h, const png_encoding& how)
{
    std::string file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        std::fputs("encode_png: libpng failed\n", stderr);
        std::abort();
    }
    png_set_write_fn(png, &file, append, no_flush);
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), how.bit_depth, how.colour_type,
                 how.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!how.palette.empty())
        png_set_PLTE(png, info, reinterpret_cast<const png_color*>(how.palette.data()),
                     int(how.palette.size() / 3));
    if (!how.transparency.empty()) {
        png_color_16 colour{};
        colour.gray = colour.red = how.transparency.size() >= 2 ? how.transparency[1] : 0;
        png_set_tRNS(png, info, how.transparency.data(), int(how.transparency.size()), &colour);
    }
    png_write_info(png, info);
    const size_t row_bytes = png_get_rowbytes(png, info);
    auto pointers = std::vector<png_bytep>(size_t(h));
    for (int y = 0; y < h; ++y)
        pointers[size_t(y)] = const_cast<uint8_t*>(rows) + size_t(y) * row_bytes;
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}
