#include "image/image_load.h"
#include "common/fatal.h"
#include "image/image_source.h"
#include "image/row_decoder.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <stb/stb_image.h>
#include <unistd.h>
#include <vector>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

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

// The decoder gave no pixels: its reason, then the check the decode path has
// always failed on.
[[noreturn]] void refuse_image(const char* path, const char* decoder, const char* reason)
{
    std::printf("error loading image %s with %s, %s\n", path, decoder, reason);
    const unsigned char* data = nullptr;
    FATAL_CHECK(data != 0, FN);
    __builtin_unreachable();
}

void check_decoded_size(const char* path, long width, long height)
{
    if (width == MODE_WIDTH && height == MODE_HEIGHT)
        return;
    std::printf("image %s doesnt match expected size %d %d\n", path, MODE_WIDTH, MODE_HEIGHT);
    FATAL_CHECK(width == MODE_WIDTH, FN);
    FATAL_CHECK(height == MODE_HEIGHT, FN);
}

// Red, green, blue, alpha bytes to the XRGB word, alpha in the ignored byte:
// red and blue trade places, green and alpha stay.
uint32_t rgba_to_xrgb(uint32_t w)
{
    return (w & 0xFF00FF00u) | (w & 0xFFu) << 16 | (w >> 16 & 0xFFu);
}

void convert_row_to_xrgb(unsigned char* dst, const unsigned char* src, uint32_t width)
{
    uint32_t x = 0;
#if defined(__x86_64__)
    // Four pixels at a time; the compiler does not vectorise the byte swap itself.
    const __m128i red_blue = _mm_set1_epi32(0x00FF00FF);
    const __m128i green_alpha = _mm_set1_epi32(static_cast<int>(0xFF00FF00u));
    for (; x + 4 <= width; x += 4) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + size_t{x} * 4));
        __m128i rb = _mm_and_si128(w, red_blue);
        rb = _mm_or_si128(_mm_slli_epi32(rb, 16), _mm_srli_epi32(rb, 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + size_t{x} * 4),
                         _mm_or_si128(rb, _mm_and_si128(w, green_alpha)));
    }
#endif
    for (; x < width; ++x) {
        uint32_t w;
        std::memcpy(&w, src + size_t{x} * 4, sizeof w);
        w = rgba_to_xrgb(w);
        std::memcpy(dst + size_t{x} * 4, &w, sizeof w);
    }
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

// Files the decoder is known to mishandle. stb_image 2.27 reads past its own
// buffer when it reduces a 16-bit PNM to 8 bits, and the size check cannot see
// it coming: such a file is refused with a reason of our own.
const char* refused_before_decoding(const image_source& src)
{
    const bool pnm = src.head_len >= 2 && src.head[0] == 'P' &&
                     (src.head[1] == '5' || src.head[1] == '6');
    return pnm && stbi_is_16_bit_from_memory(src.head, static_cast<int>(src.head_len))
               ? "16-bit PNM not supported"
               : nullptr;
}

// The rest of the file after the head, up to what any format stb_image reads
// could need for a frame of the mode's size (16-bit RGBA planes are 8 bytes a
// pixel): trailing bytes beyond that are never pixels of this frame.
std::vector<unsigned char> read_whole(image_source& src, const display_fb& fb)
{
    const size_t limit = std::min<size_t>(INT_MAX, size_t{16} * fb.width * fb.height + 65536);
    std::vector<unsigned char> data(src.head, src.head + src.head_len);
    src.head_pos = src.head_len;
    bool more = src.head_len == IMAGE_HEAD_MAX;
    while (more && data.size() < limit) {
        const size_t have = data.size();
        data.resize(std::min(limit, have * 2));
        const size_t n = source_read(src, data.data() + have, data.size() - have);
        more = n == data.size() - have;
        data.resize(have + n);
    }
    return data;
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
    // A top-down BMP gives its height as a negative number.
    const bool bmp = src.head_len >= 2 && src.head[0] == 'B' && src.head[1] == 'M';
    if (sized)
        check_decoded_size(path, width, bmp && height < 0 ? -long{height} : height);

    const char* refusal = sized ? refused_before_decoding(src) : stbi_failure_reason();
    unsigned char* data = nullptr;
    if (!refusal) {
        const std::vector<unsigned char> file = read_whole(src, fb);
        data = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &width,
                                     &height, &channels, 4);
    }
    if (!data)
        refuse_image(path, "stb_image", refusal ? refusal : stbi_failure_reason());
    check_decoded_size(path, width, height);

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
    refuse_image(path, decoder.name, reader ? decoder.reason(reader.get()) : "outofmem");
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
        refuse_image(path, "stb_image", "can't fopen");
    // Closed however the load ends (a failed check ends the process; the fuzz
    // target goes on with the next input).
    const std::unique_ptr<int, void (*)(int*)> closer(&src->fd, [](int* fd) { close(*fd); });
    source_read_head(*src);
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
