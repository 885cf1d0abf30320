// PNG through libpng, rows decoded into the framebuffer. The picture is the one
// stb_image gives: 16-bit samples cut to their high byte, palette and grey
// expanded, alpha left in the ignored byte, no gamma or colour-profile conversion,
// and chunk checksums (CRC and the compressed stream's Adler-32) not checked.
#include "image/row_decoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include <png.h>

namespace {

struct png_reader {
    png_structp png;
    png_infop info;
    std::jmp_buf escape;
    image_source* src;
    char reason[200];
};
// longjmp may leave any frame between the library and the jump target: nothing
// there may need a destructor.
static_assert(std::is_trivially_destructible_v<png_reader>);

[[noreturn]] void escape_with_message(png_structp png, png_const_charp message)
{
    auto* r = static_cast<png_reader*>(png_get_error_ptr(png));
    std::snprintf(r->reason, sizeof r->reason, "%s", message);
    std::longjmp(r->escape, 1);
}

// Warnings (chunks the library works around) must not reach standard error.
void keep_quiet(png_structp, png_const_charp) {}

void read_bytes(png_structp png, png_bytep dst, size_t n)
{
    auto* r = static_cast<png_reader*>(png_get_io_ptr(png));
    if (source_read(*r->src, dst, n) != n)
        png_error(png, r->src->read_failed ? "read error" : "file ends early");
}

decoder_reader* open_png(image_source& src)
{
    auto* r = static_cast<png_reader*>(std::calloc(1, sizeof(png_reader)));
    if (!r)
        return nullptr;
    r->src = &src;
    r->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, r, escape_with_message, keep_quiet);
    r->info = r->png ? png_create_info_struct(r->png) : nullptr;
    if (!r->info) {
        png_destroy_read_struct(&r->png, nullptr, nullptr);
        std::free(r);
        return nullptr;
    }
    png_set_read_fn(r->png, r, read_bytes);
    png_set_crc_action(r->png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_set_option(r->png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    return reinterpret_cast<decoder_reader*>(r);
}

void close_png(decoder_reader* reader)
{
    auto* r = reinterpret_cast<png_reader*>(reader);
    png_destroy_read_struct(&r->png, &r->info, nullptr);
    std::free(r);
}

uint32_t big_endian(const unsigned char* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// The size comes from the header chunk, which must come first: a file is sized
// before the library reads (and inflates) the chunks that follow it.
bool read_png_size(decoder_reader* reader, uint32_t& width, uint32_t& height)
{
    auto* r = reinterpret_cast<png_reader*>(reader);
    const unsigned char* head = r->src->head;
    if (r->src->head_len >= 24 && std::memcmp(head + 12, "IHDR", 4) == 0) {
        width = big_endian(head + 16);
        height = big_endian(head + 20);
        return true;
    }
    if (setjmp(r->escape))
        return false;
    png_read_info(r->png, r->info);
    png_error(r->png, "IHDR: missing"); // the library stops on a missing header first
}

// Every colour type becomes four bytes a pixel: red, green, blue (swapped for
// XR24), then alpha or a filler byte.
void ask_for_four_bytes(png_structp png, png_infop info, pixel_order order)
{
    const int colour = png_get_color_type(png, info);
    if (colour == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (colour == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    png_set_strip_16(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    if ((colour & PNG_COLOR_MASK_ALPHA) == 0)
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    if (order == pixel_order::xr24)
        png_set_bgr(png);
}

bool read_png_rows(decoder_reader* reader, const frame_rows& out)
{
    auto* r = reinterpret_cast<png_reader*>(reader);
    if (setjmp(r->escape))
        return false;
    png_read_info(r->png, r->info);
    ask_for_four_bytes(r->png, r->info, out.order);
    const int passes = png_set_interlace_handling(r->png);
    png_read_update_info(r->png, r->info);
    if (png_get_rowbytes(r->png, r->info) != size_t{out.width} * 4)
        png_error(r->png, "unexpected row layout");
    // An interlaced image fills each row in several passes; each pass writes only
    // its own pixels, so the mapped buffer is never read.
    for (int pass = 0; pass < passes; ++pass)
        for (uint32_t y = 0; y < out.height; ++y)
            png_read_row(r->png, out.map + size_t{y} * out.pitch, nullptr);
    // stb_image refuses a file that ends before its end chunk: so does this.
    png_read_end(r->png, nullptr);
    return true;
}

const char* png_reason(const decoder_reader* reader)
{
    return reinterpret_cast<const png_reader*>(reader)->reason;
}

} // namespace

const row_decoder PNG_DECODER = {.name = "libpng",
                                 .open = open_png,
                                 .close = close_png,
                                 .read_size = read_png_size,
                                 .read_rows = read_png_rows,
                                 .reason = png_reason};
