// JPEG through libjpeg-turbo, rows decoded into the framebuffer.
#include "image/row_decoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

#include <jpeglib.h>
#include <jerror.h>

namespace {

constexpr size_t INPUT_BLOCK = 64 * 1024;

// A progressive file refines its picture scan by scan, and each scan costs a pass
// over the whole coefficient buffer. Encoders write about ten; every coefficient
// of every component on its own, with successive approximation, would still fit.
constexpr int MAX_SCANS = 100;

// The coefficient buffer of a 4:4:4 progressive frame of 4320 x 2160 is 54 MiB;
// the library refuses to allocate more than this in all.
constexpr long MEMORY_MAX = 64L << 20;

// After the last row only the end of the scan and the markers before the end of
// the image are left to read.
constexpr size_t AFTER_LAST_ROW_MAX = INPUT_BLOCK;

struct jpeg_reader {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    jpeg_source_mgr input;
    jpeg_progress_mgr progress;
    std::jmp_buf escape;
    image_source* src;
    size_t finish_budget; // bytes still allowed after the last row (SIZE_MAX before)
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

// A warning means the library made up or dropped data (the file ended, a marker
// came inside the scan data, it resynchronised on corrupt data, the progression
// refines what was never sent, an unknown colour transform): the picture would not
// be the file's, so the warning ends the decode as an error does. Only a JFIF
// version the library does not know loses nothing. Trace messages are ignored.
void on_message(j_common_ptr info, int level)
{
    if (level < 0 && info->err->msg_code != JWRN_JFIF_MAJOR)
        escape_with_message(info);
}

void count_scans(j_common_ptr info)
{
    auto* d = reinterpret_cast<j_decompress_ptr>(info);
    if (d->input_scan_number <= MAX_SCANS)
        return;
    jpeg_reader* r = reader_of(info);
    std::snprintf(r->reason, sizeof r->reason, "Scan number %d exceeds maximum scans (%d)",
                  d->input_scan_number, MAX_SCANS);
    std::longjmp(r->escape, 1);
}

void no_init(j_decompress_ptr) {}
void no_term(j_decompress_ptr) {}

// The file ending inside the image is an error: a picture with a made-up grey
// bottom must not reach the panels.
boolean fill_block(j_decompress_ptr info)
{
    jpeg_reader* r = reader_of(reinterpret_cast<j_common_ptr>(info));
    const size_t want = std::min(INPUT_BLOCK, r->finish_budget);
    const size_t n = want == 0 ? 0 : source_read(*r->src, r->block, want);
    r->finish_budget -= std::min(r->finish_budget, n);
    if (n == 0 && want == 0) {
        std::snprintf(r->reason, sizeof r->reason, "No end of image within %zu bytes of the last row",
                      AFTER_LAST_ROW_MAX);
        std::longjmp(r->escape, 1);
    }
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
    r->finish_budget = SIZE_MAX;
    r->info.client_data = r;
    r->info.err = jpeg_std_error(&r->errors);
    r->errors.error_exit = escape_with_message;
    r->errors.emit_message = on_message;
    r->errors.output_message = keep_quiet;
    if (!create_decompress(r)) {
        std::free(r);
        return nullptr;
    }
    r->info.mem->max_memory_to_use = MEMORY_MAX;
    r->progress.progress_monitor = count_scans;
    r->info.progress = &r->progress;
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
    // The rest of the scan must end where the picture does, at the end marker: data
    // left over means the decoder lost its place in corrupt data. What follows the
    // end marker is not read.
    r->finish_budget = AFTER_LAST_ROW_MAX;
    jpeg_finish_decompress(&r->info);
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
