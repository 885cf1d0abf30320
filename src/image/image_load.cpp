#include "image/image_load.h"
#include "common/fatal.h"
#include "image/image_source.h"
#include "image/row_decoder.h"
#include "image/stb_formats.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <stb/stb_image.h>
#include <unistd.h>


namespace {

constexpr const char* FN = "display_create_fb";

// Straight into the mapping when rows are packed; row by row when the kernel pads
// them. Returns the bytes read, or -1 when the first read failed.
ssize_t read_frame(int fd, const display_fb& fb)
{
    const size_t row_bytes = size_t{fb.width} * 4;
    const size_t frame_bytes = row_bytes * fb.height;
    auto* dst = static_cast<unsigned char*>(fb.map);
    if (fb.pitch == row_bytes)
        return read_until_full(fd, dst, frame_bytes);

    ssize_t total = 0;
    for (uint32_t y = 0; y < fb.height; ++y) {
        const ssize_t n = read_until_full(fd, dst + size_t{y} * fb.pitch, row_bytes);
        if (n < 0)
            return total == 0 ? -1 : total;
        total += n;
        if (static_cast<size_t>(n) != row_bytes)
            break;
    }
    return total;
}

// "CALL PATH: reason", the line after a failed check on the frame file.
const char* file_call_failed(const char* call, const char* path, int error)
{
    static char text[PATH_MAX + 16];
    std::snprintf(text, sizeof text, "%s %s", call, path);
    return call_failed(text, error);
}

uint32_t load_raw(const display_fb& fb, const char* path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    FATAL_CHECK_WHY(fd >= 0, FN, file_call_failed("open", path, errno));
    const ssize_t nread = read_frame(fd, fb);
    const int read_error = nread < 0 ? errno : 0;
    if (nread != MODE_WIDTH * MODE_HEIGHT * 4)
        std::printf("image %s doesn't match expected size (read %d bytes instead of %d)\n", path,
                    static_cast<int>(nread), MODE_WIDTH * MODE_HEIGHT * 4);
    close(fd);
    FATAL_CHECK_WHY(nread == MODE_WIDTH*MODE_HEIGHT*4, FN,
                    nread < 0 ? file_call_failed("read", path, read_error) : nullptr);
    return FORMAT_XR24;
}

// The decoder gave no pixels: its reason, then the diagnostic of a decode that
// returned no data, and why, where the decoder's words do not say it.
[[noreturn]] void refuse_image(const char* path, const char* decoder, const char* reason,
                               const char* why = nullptr)
{
    std::printf("error loading image %s with %s, %s\n", path, decoder, reason);
    FATAL_FAIL_WHY("data != 0", FN, why);
}

// The system's reason when reading the file failed, else nullptr.
const char* read_failure(const image_source& src, const char* path)
{
    return src.read_failed ? file_call_failed("read", path, src.read_error) : nullptr;
}

// "<variant> not supported", or nullptr without one.
const char* not_supported(const char* variant)
{
    static char text[128];
    if (!variant)
        return nullptr;
    std::snprintf(text, sizeof text, "%s not supported", variant);
    return text;
}

void check_decoded_size(const char* path, long width, long height)
{
    if (width == MODE_WIDTH && height == MODE_HEIGHT)
        return;
    std::printf("image %s doesnt match expected size %d %d\n", path, MODE_WIDTH, MODE_HEIGHT);
    FATAL_CHECK(width == MODE_WIDTH, FN);
    FATAL_CHECK(height == MODE_HEIGHT, FN);
}

// Four red, green, blue, alpha pixels to XRGB words, alpha in the ignored byte:
// red and blue trade places, green and alpha stay. In the vector unit (SSE2 on
// x86-64, NEON on arm64): the compiler does not vectorise the byte swap at -O2.
void rgba4_to_xrgb(unsigned char* dst, const unsigned char* src)
{
    using pixels4 = uint32_t __attribute__((vector_size(16)));
    pixels4 w;
    std::memcpy(&w, src, sizeof w);
    const pixels4 red_blue = w & 0x00FF00FFu;
    w = (w & 0xFF00FF00u) | red_blue << 16 | red_blue >> 16;
    std::memcpy(dst, &w, sizeof w);
}

// The last one to three pixels of a row go through a block of four, so every
// pixel takes the same conversion.
void convert_row_to_xrgb(unsigned char* dst, const unsigned char* src, uint32_t width)
{
    uint32_t x = 0;
    for (; x + 4 <= width; x += 4)
        rgba4_to_xrgb(dst + size_t{x} * 4, src + size_t{x} * 4);
    if (x == width)
        return;
    unsigned char block[16] = {};
    const size_t rest = size_t{width - x} * 4;
    std::memcpy(block, src + size_t{x} * 4, rest);
    rgba4_to_xrgb(block, block);
    std::memcpy(dst + size_t{x} * 4, block, rest);
}

// Decoded pixels are red, green, blue, alpha bytes, which is XB24 as they stand.
// Where the plane cannot scan out XB24, each row is converted to XR24 as it is copied.
uint32_t copy_decoded(const display_fb& fb, const unsigned char* data, pixel_order order)
{
    const size_t row_bytes = size_t{fb.width} * 4;
    auto* dst = static_cast<unsigned char*>(fb.map);
    if (order == pixel_order::xb24 && fb.pitch == row_bytes) {
        std::memcpy(dst, data, row_bytes * fb.height);
        return FORMAT_XB24;
    }
    for (uint32_t y = 0; y < fb.height; ++y) {
        unsigned char* row = dst + size_t{y} * fb.pitch;
        const unsigned char* src = data + size_t{y} * row_bytes;
        if (order == pixel_order::xb24)
            std::memcpy(row, src, row_bytes);
        else
            convert_row_to_xrgb(row, src, fb.width);
    }
    return order == pixel_order::xb24 ? FORMAT_XB24 : FORMAT_XR24;
}

// What the plane scans out, XB24 where it can: no conversion at all.
pixel_order plane_order(const display_handle& h)
{
    return display_plane_has_format(h, FORMAT_XB24) ? pixel_order::xb24 : pixel_order::xr24;
}

// The most any valid encoding of a frame can need, format by format (told by the
// magic stb_image tests for; TGA has none and comes last): bytes a pixel and a
// row, on top of room for headers, palettes and comments.
struct stb_format_budget {
    const char* magic;
    size_t magic_len;
    size_t pixel_bytes;
    size_t row_bytes;
    size_t extra;
};

constexpr size_t HEADER_ROOM = 64 * 1024;

constexpr stb_format_budget STB_BUDGETS[] = {
    {"BM", 2, 4, 3, 0},                   // 32-bit pixels; 24-bit rows pad to 4 bytes
    {"GIF8", 4, 2, 0, 0},                 // 12-bit codes, sub-block lengths
    {"8BPS", 4, 16, 32, 0},               // 16-bit planes of 4 channels, one layer more
    {"\x53\x80\xF6\x34", 4, 6, 0, 0},     // run counts before every pixel, two packets
    {"P5", 2, 1, 0, 0},                   // grey bytes
    {"P6", 2, 3, 0, 0},                   // red, green, blue bytes
    {"#?", 2, 5, 4, 0},                   // RGBE runs and a header per scanline
    {"", 0, 5, 0, 65536 * 4},             // TGA: a packet per 32-bit pixel; 64 Ki colour map
};

// The file's format by its signature; the last entry, TGA, when none matches.
const stb_format_budget& stb_format_of(const image_source& src)
{
    const stb_format_budget* b = STB_BUDGETS;
    while (b->magic_len != 0 &&
           (src.head_len < b->magic_len || std::memcmp(src.head, b->magic, b->magic_len) != 0))
        ++b;
    return *b;
}

size_t stb_budget(const stb_format_budget& b, const display_fb& fb)
{
    return b.pixel_bytes * fb.width * fb.height + b.row_bytes * fb.height + b.extra + HEADER_ROOM;
}

// stb_image reads through these callbacks, the file once from the start. It asks
// for data in two ways: refills of its own small buffer (the first read of all
// goes there), where a short count is only the end of the file and nothing empty
// is read yet, and whole runs of pixels straight into its image. A refill that
// gets nothing, or a run that gets less than it asked for, means the decoder has
// gone on with bytes that are not in the file: the picture is then refused at once
// (stb_image 2.27 may otherwise spin for ever on the zeros it makes up, as in a
// Radiance run of length 0).
struct stb_reader {
    std::jmp_buf escape;
    image_source* src;
    size_t budget; // bytes the decoder may still be given
    const char* refill_buffer;
    bool ran_out;
    bool over_budget;
};

size_t stb_take(stb_reader& r, char* dst, size_t n)
{
    size_t done = 0;
    while (done < n && r.budget > 0 && source_next_block(*r.src)) {
        const size_t k = std::min({n - done, r.budget, r.src->head_len - r.src->head_pos});
        if (dst)
            std::memcpy(dst + done, r.src->head + r.src->head_pos, k);
        r.src->head_pos += k;
        r.budget -= k;
        done += k;
    }
    r.over_budget = r.over_budget || (done < n && r.budget == 0);
    return done;
}

int stb_read(void* user, char* data, int size)
{
    auto& r = *static_cast<stb_reader*>(user);
    if (!r.refill_buffer)
        r.refill_buffer = data;
    const size_t n = stb_take(r, data, static_cast<size_t>(size));
    r.ran_out = data == r.refill_buffer ? n == 0 : n < static_cast<size_t>(size);
    if (r.ran_out)
        std::longjmp(r.escape, 1);
    return static_cast<int>(n);
}

// Skipping past the end alone uses nothing (a last row's padding); the next read
// finds the end.
void stb_skip(void* user, int n)
{
    stb_take(*static_cast<stb_reader*>(user), nullptr, static_cast<size_t>(std::max(n, 0)));
}

int stb_eof(void* user)
{
    const auto& r = *static_cast<stb_reader*>(user);
    return r.budget == 0 || !source_next_block(*r.src);
}

// The decoder's pixels, or nullptr. The jump leaves the decoder's own blocks to the
// process exit, as every failed load does.
unsigned char* decode_with_stb(stb_reader& reader, int& width, int& height)
{
    const stbi_io_callbacks io{.read = stb_read, .skip = stb_skip, .eof = stb_eof};
    int channels = 0;
    if (setjmp(reader.escape))
        return nullptr;
    return stbi_load_from_callbacks(&io, &reader, &width, &height, &channels, 4);
}

uint32_t load_with_stb(const display_handle& h, const display_fb& fb, image_source& src,
                       const char* path)
{
    // A file whose header gives the wrong size is refused before anything is
    // decoded, so a huge image never allocates its pixels first. A header the
    // decoder cannot read is refused too: stb_image's loaders are laxer than its
    // header readers (a PIC it cannot size may still decode to 4351 x 65504).
    int width = 0;
    int height = 0;
    int channels = 0;
    const bool sized = stbi_info_from_memory(src.head, static_cast<int>(src.head_len), &width,
                                             &height, &channels) != 0;
    const stb_format_budget& kind = stb_format_of(src);
    // A valid variant the decoder refuses is named after its words; one it would
    // show other than the file defines it (a 16-bit PNM, which stb_image 2.27
    // reduces to 8 bits past the end of its own buffer) is refused before decoding.
    const char* variant = stb_unsupported_variant(src, sized && kind.magic_len == 0);
    if (!sized)
        refuse_image(path, "stb_image", stbi_failure_reason(), not_supported(variant));
    // A top-down BMP gives its height as a negative number.
    const bool bmp = src.head_len >= 2 && src.head[0] == 'B' && src.head[1] == 'M';
    check_decoded_size(path, width, bmp && height < 0 ? -long{height} : height);
    if (variant)
        refuse_image(path, "stb_image", not_supported(variant));
    // The head is refilled as the decoder reads on: take what it says first.
    const long pnm_max = pnm_maximum(src);

    stb_reader reader{};
    reader.src = &src;
    reader.budget = stb_budget(kind, fb);
    unsigned char* data = decode_with_stb(reader, width, height);
    if (!data)
        refuse_image(path, "stb_image",
                     !reader.ran_out       ? stbi_failure_reason()
                     : reader.over_budget  ? "more data than a frame of this size needs"
                     : src.read_failed     ? "read error"
                                           : "file ends early",
                     read_failure(src, path));
    check_decoded_size(path, width, height);
    if (!scale_pnm_samples(data, size_t{fb.width} * fb.height, pnm_max))
        refuse_image(path, "stb_image", "PNM sample above its maximum");

    const uint32_t format = copy_decoded(fb, data, plane_order(h));
    stbi_image_free(data);
    return format;
}

uint32_t load_with_rows(const display_handle& h, const display_fb& fb, image_source& src,
                        const char* path, const row_decoder& decoder)
{
    const reader_ptr reader(decoder.open(src), reader_closer{&decoder});
    uint32_t width = 0;
    uint32_t height = 0;
    bool ok = reader && decoder.read_size(reader.get(), width, height);
    if (ok) {
        // The size check comes from the header, before any pixel is decoded.
        check_decoded_size(path, width, height);
        const pixel_order order = plane_order(h);
        const frame_rows out{.map = static_cast<unsigned char*>(fb.map),
                             .pitch = fb.pitch,
                             .width = fb.width,
                             .height = fb.height,
                             .order = order};
        ok = decoder.read_rows(reader.get(), out);
        if (ok)
            return order == pixel_order::xb24 ? FORMAT_XB24 : FORMAT_XR24;
    }
    refuse_image(path, decoder.name, reader ? decoder.reason(reader.get()) : "outofmem",
                 read_failure(src, path));
}

const row_decoder* row_decoder_for(const image_source& src)
{
    static constexpr unsigned char PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (src.head_len >= 2 && src.head[0] == 0xFF && src.head[1] == 0xD8)
        return &JPEG_DECODER;
    if (src.head_len >= 8 && std::memcmp(src.head, PNG_SIGNATURE, 8) == 0)
        return &PNG_DECODER;
    return nullptr;
}

// The file is opened and read once, front to back: a pipe or FIFO loads as a
// file does.
uint32_t load_decoded(const display_handle& h, const display_fb& fb, const char* path)
{
    const auto src = std::make_unique<image_source>();
    src->fd = open(path, O_RDONLY | O_CLOEXEC);
    if (src->fd < 0)
        refuse_image(path, "stb_image", "can't fopen", file_call_failed("open", path, errno));
    // Closed however the load ends (a failed check ends the process; the fuzz
    // target goes on with the next input).
    const std::unique_ptr<int, void (*)(int*)> closer(&src->fd, [](int* fd) { close(*fd); });
    source_read_head(*src);
    if (src->read_failed) // a directory, say
        refuse_image(path, "stb_image", "read error", read_failure(*src, path));
    const row_decoder* decoder = row_decoder_for(*src);
    return decoder ? load_with_rows(h, fb, *src, path, *decoder) : load_with_stb(h, fb, *src, path);
}

} // namespace

bool is_raw_frame_path(const char* path)
{
    const size_t len = std::strlen(path);
    return len > 3 && std::memcmp(path + len - 4, ".rgb", 4) == 0;
}

uint32_t load_image(const display_handle& h, const display_fb& fb, const char* path)
{
    return is_raw_frame_path(path) ? load_raw(fb, path) : load_decoded(h, fb, path);
}
