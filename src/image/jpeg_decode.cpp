// JPEG through libjpeg-turbo, rows decoded into the framebuffer.
#include "image/row_decoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include <jpeglib.h>
#include <jerror.h>

namespace {

constexpr size_t INPUT_BLOCK = 64 * 1024;

struct jpeg_reader {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    jpeg_source_mgr input;
    std::jmp_buf escape;
    image_source* src;
    char reason[JMSG_LENGTH_MAX];
    JOCTET block[INPUT_BLOCK];
};
// longjmp may leave any frame between the library and the jump target: nothing
// there may need a destructor.
static_assert(std::is_trivially_destructible_v<jpeg_reader>);

jpeg_reader* reader_of(j_common_ptr info)
{
    return static_cast<jpeg_reader*>(info->client_data);
}

[[noreturn]] void escape_with_message(j_common_ptr info)
{
    jpeg_reader* r = reader_of(info);
    info->err->format_message(info, r->reason);
    std::longjmp(r->escape, 1);
}

// Warnings (corrupt data the library works around) must not reach standard error.
void keep_quiet(j_common_ptr) {}

void no_init(j_decompress_ptr) {}
void no_term(j_decompress_ptr) {}

// The file ending inside the image is an error: a picture with a made-up grey
// bottom must not reach the panels.
boolean fill_block(j_decompress_ptr info)
{
    jpeg_reader* r = reader_of(reinterpret_cast<j_common_ptr>(info));
    const size_t n = source_read(*r->src, r->block, INPUT_BLOCK);
    if (n == 0) {
        info->err->msg_code = r->src->read_failed ? JERR_FILE_READ : JERR_INPUT_EOF;
        info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
    }
    r->input.next_input_byte = r->block;
    r->input.bytes_in_buffer = n;
    return TRUE;
}

void skip_bytes(j_decompress_ptr info, long count)
{
    jpeg_source_mgr& in = *info->src;
    while (count > 0) {
        if (in.bytes_in_buffer == 0)
            fill_block(info);
        const size_t n = std::min(in.bytes_in_buffer, static_cast<size_t>(count));
        in.next_input_byte += n;
        in.bytes_in_buffer -= n;
        count -= static_cast<long>(n);
    }
}

bool create_decompress(jpeg_reader* r)
{
    if (setjmp(r->escape))
        return false;
    jpeg_create_decompress(&r->info);
    return true;
}

decoder_reader* open_jpeg(image_source& src)
{
    auto* r = static_cast<jpeg_reader*>(std::calloc(1, sizeof(jpeg_reader)));
    if (!r)
        return nullptr;
    r->src = &src;
    r->info.client_data = r;
    r->info.err = jpeg_std_error(&r->errors);
    r->errors.error_exit = escape_with_message;
    r->errors.output_message = keep_quiet;
    if (!create_decompress(r)) {
        std::free(r);
        return nullptr;
    }
    r->input = {.next_input_byte = nullptr,
                .bytes_in_buffer = 0,
                .init_source = no_init,
                .fill_input_buffer = fill_block,
                .skip_input_data = skip_bytes,
                .resync_to_restart = jpeg_resync_to_restart,
                .term_source = no_term};
    r->info.src = &r->input;
    return reinterpret_cast<decoder_reader*>(r);
}

void close_jpeg(decoder_reader* reader)
{
    auto* r = reinterpret_cast<jpeg_reader*>(reader);
    jpeg_destroy_decompress(&r->info);
    std::free(r);
}

bool read_jpeg_size(decoder_reader* reader, uint32_t& width, uint32_t& height)
{
    auto* r = reinterpret_cast<jpeg_reader*>(reader);
    if (setjmp(r->escape))
        return false;
    jpeg_read_header(&r->info, TRUE);
    width = r->info.image_width;
    height = r->info.image_height;
    return true;
}

// CMYK and YCCK files have no conversion to these orders: the library refuses
// them rather than show wrong colours.
bool read_jpeg_rows(decoder_reader* reader, const frame_rows& out)
{
    auto* r = reinterpret_cast<jpeg_reader*>(reader);
    if (setjmp(r->escape))
        return false;
    r->info.out_color_space = out.order == pixel_order::xb24 ? JCS_EXT_RGBX : JCS_EXT_BGRX;
    jpeg_start_decompress(&r->info);
    while (r->info.output_scanline < r->info.output_height) {
        JSAMPROW rows[4];
        const JDIMENSION first = r->info.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(4, r->info.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = out.map + size_t{first + i} * out.pitch;
        jpeg_read_scanlines(&r->info, rows, count);
    }
    // The picture is complete: what follows its last row is not read.
    return true;
}

const char* jpeg_reason(const decoder_reader* reader)
{
    return reinterpret_cast<const jpeg_reader*>(reader)->reason;
}

} // namespace

const row_decoder JPEG_DECODER = {.name = "libjpeg",
                                  .open = open_jpeg,
                                  .close = close_jpeg,
                                  .read_size = read_jpeg_size,
                                  .read_rows = read_jpeg_rows,
                                  .reason = jpeg_reason};
