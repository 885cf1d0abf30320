// PNG through libpng, rows decoded into the framebuffer. The picture is the one
// stb_image gives: 16-bit samples cut to their high byte, palette and grey
// expanded, alpha left in the ignored byte, no gamma or colour-profile conversion,
// and chunk checksums (CRC and the compressed stream's Adler-32) not checked.
//
// The cost is bounded by the picture: ancillary chunks other than transparency are
// skipped unread by the library (text and colour profiles are never inflated), and
// nothing of the file after the last row's data is read.
#include "image/row_decoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include <png.h>

namespace {

// Ancillary chunks that cannot change the picture as it is decoded here: the
// library skips them (checksum only) instead of parsing or inflating them.
// tRNS stays: it is the alpha that lands in the ignored byte.
constexpr png_byte SKIPPED_CHUNKS[] = "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0"
                                      "pCAL\0pHYs\0sBIT\0sCAL\0sPLT\0sRGB\0sTER\0tEXt\0"
                                      "tIME\0zTXt";

struct png_reader {
    png_structp png;
    png_infop info;
    std::jmp_buf escape;
    image_source* src;
    uint32_t rows_left; // rows of all passes still to come through the row hook
    bool picture_done;  // every row is decoded: the file is not read any further
    int palette_size;
    png_byte palette[256][4]; // in the framebuffer's byte order, alpha last
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

// Once the last row is decoded, the library only asks for the rest of the
// compressed stream and the chunks after it: none of that is read.
void read_bytes(png_structp png, png_bytep dst, size_t n)
{
    auto* r = static_cast<png_reader*>(png_get_io_ptr(png));
    if (r->picture_done)
        std::longjmp(r->escape, 1);
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
    png_set_keep_unknown_chunks(r->png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
    png_set_keep_unknown_chunks(r->png, PNG_HANDLE_CHUNK_NEVER, SKIPPED_CHUNKS,
                                sizeof SKIPPED_CHUNKS / 5);
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
        return;
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

// Rows that carry pixels, over all passes (the library skips empty passes).
uint32_t decoded_rows(png_structp png, png_infop info)
{
    const uint32_t w = png_get_image_width(png, info);
    const uint32_t h = png_get_image_height(png, info);
    if (png_get_interlace_type(png, info) == PNG_INTERLACE_NONE)
        return h;
    uint32_t rows = 0;
    for (int pass = 0; pass < 7; ++pass)
        rows += PNG_PASS_COLS(w, pass) != 0 ? PNG_PASS_ROWS(h, pass) : 0;
    return rows;
}

// Runs on each row after the library has decoded it and before the row reaches the
// framebuffer; after the last one, what the library still asks of the file is the
// end of the stream, which holds no pixel.
void count_row(png_structp png, png_row_infop, png_bytep)
{
    auto* r = static_cast<png_reader*>(png_get_io_ptr(png));
    r->picture_done = --r->rows_left == 0;
}

// Palette rows are expanded here, where an index beyond the palette is seen: the
// library would show it as black. Packed indexes become four bytes a pixel in the
// same buffer, from the last pixel back.
void expand_palette_row(png_structp png, png_row_infop row, png_bytep data)
{
    auto* r = static_cast<png_reader*>(png_get_io_ptr(png));
    const unsigned depth = row->bit_depth;
    for (uint32_t x = row->width; x-- > 0;) {
        const size_t bit = size_t{x} * depth;
        const unsigned index = data[bit / 8] >> (8 - depth - bit % 8) & ((1u << depth) - 1);
        if (static_cast<int>(index) >= r->palette_size)
            png_error(png, "Read palette index exceeding num_palette");
        std::memcpy(data + size_t{x} * 4, r->palette[index], 4);
    }
    row->color_type = PNG_COLOR_TYPE_RGB_ALPHA;
    row->channels = 4;
    row->bit_depth = 8;
    row->pixel_depth = 32;
    row->rowbytes = size_t{row->width} * 4;
    count_row(png, row, data);
}

void prepare_palette(png_reader* r, pixel_order order)
{
    png_colorp colours = nullptr;
    png_bytep alpha = nullptr;
    int alphas = 0;
    png_get_PLTE(r->png, r->info, &colours, &r->palette_size);
    png_get_tRNS(r->png, r->info, &alpha, &alphas, nullptr);
    for (int i = 0; i < r->palette_size; ++i) {
        const png_color c = colours[i];
        const bool xb24 = order == pixel_order::xb24;
        png_byte* p = r->palette[i];
        p[0] = xb24 ? c.red : c.blue;
        p[1] = c.green;
        p[2] = xb24 ? c.blue : c.red;
        p[3] = i < alphas ? alpha[i] : 0xFF;
    }
}

bool read_png_rows(decoder_reader* reader, const frame_rows& out)
{
    auto* r = reinterpret_cast<png_reader*>(reader);
    if (setjmp(r->escape))
        return r->picture_done;
    png_read_info(r->png, r->info);
    ask_for_four_bytes(r->png, r->info, out.order);
    const int passes = png_set_interlace_handling(r->png);
    r->rows_left = decoded_rows(r->png, r->info);
    if (png_get_color_type(r->png, r->info) == PNG_COLOR_TYPE_PALETTE) {
        prepare_palette(r, out.order);
        png_set_read_user_transform_fn(r->png, expand_palette_row);
        png_set_user_transform_info(r->png, nullptr, 8, 4);
    } else {
        png_set_read_user_transform_fn(r->png, count_row);
    }
    png_read_update_info(r->png, r->info);
    if (png_get_rowbytes(r->png, r->info) != size_t{out.width} * 4)
        png_error(r->png, "unexpected row layout");
    // An interlaced image fills each row in several passes; each pass writes only
    // its own pixels, so the mapped buffer is never read. The library leaves this
    // loop by the jump in read_bytes once the picture is done.
    for (int pass = 0; pass < passes; ++pass)
        for (uint32_t y = 0; y < out.height; ++y)
            png_read_row(r->png, out.map + size_t{y} * out.pitch, nullptr);
    png_error(r->png, r->picture_done ? "picture done" : "Not enough image data");
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
