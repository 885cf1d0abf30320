#include "image/image_load.h"
#include "common/fatal.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stb/stb_image.h>
#include <unistd.h>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace {

constexpr const char* FN = "display_create_fb";

// One read straight into the mapping when rows are packed; one read per row when
// the kernel pads them. Returns the bytes read, or -1 when the first read failed.
ssize_t read_frame(int fd, const display_fb& fb)
{
    const size_t row_bytes = size_t{MODE_WIDTH} * 4;
    const size_t frame_bytes = row_bytes * MODE_HEIGHT;
    auto* dst = static_cast<unsigned char*>(fb.map);
    if (fb.pitch == row_bytes)
        return read(fd, dst, frame_bytes);

    ssize_t total = 0;
    for (uint32_t y = 0; y < MODE_HEIGHT; ++y) {
        const ssize_t n = read(fd, dst + size_t{y} * fb.pitch, row_bytes);
        if (n < 0)
            return total == 0 ? -1 : total;
        total += n;
        if (static_cast<size_t>(n) != row_bytes)
            break;
    }
    return total;
}

uint32_t load_raw(const display_fb& fb, const char* path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    FATAL_CHECK(fd >= 0, FN);
    const ssize_t nread = read_frame(fd, fb);
    if (nread != MODE_WIDTH * MODE_HEIGHT * 4)
        std::printf("image %s doesn't match expected size (read %d bytes instead of %d)\n", path,
                    static_cast<int>(nread), MODE_WIDTH * MODE_HEIGHT * 4);
    close(fd);
    FATAL_CHECK(nread == MODE_WIDTH*MODE_HEIGHT*4, FN);
    return FORMAT_XR24;
}

void check_decoded_size(const char* path, int width, int height)
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
uint32_t copy_decoded(const display_fb& fb, const unsigned char* data, bool xbgr)
{
    const size_t row_bytes = size_t{MODE_WIDTH} * 4;
    auto* dst = static_cast<unsigned char*>(fb.map);
    if (xbgr && fb.pitch == row_bytes) {
        std::memcpy(dst, data, row_bytes * MODE_HEIGHT);
        return FORMAT_XB24;
    }
    for (uint32_t y = 0; y < MODE_HEIGHT; ++y) {
        unsigned char* row = dst + size_t{y} * fb.pitch;
        const unsigned char* src = data + size_t{y} * row_bytes;
        if (xbgr)
            std::memcpy(row, src, row_bytes);
        else
            convert_row_to_xrgb(row, src, MODE_WIDTH);
    }
    return xbgr ? FORMAT_XB24 : FORMAT_XR24;
}

// Files the decoder is known to mishandle. stb_image 2.27 reads past its own
// buffer when it reduces a 16-bit PNM to 8 bits, and the size check cannot see
// it coming: such a file is refused with a reason of our own.
const char* refused_before_decoding(const char* path)
{
    char magic[2] = {};
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return nullptr; // the decoder reports it in its own words
    const size_t n = std::fread(magic, 1, sizeof magic, f);
    std::fclose(f);
    const bool pnm = n == 2 && magic[0] == 'P' && (magic[1] == '5' || magic[1] == '6');
    return pnm && stbi_is_16_bit(path) ? "16-bit PNM not supported" : nullptr;
}

uint32_t load_decoded(const display_handle& h, const display_fb& fb, const char* path)
{
    // A file whose header gives the wrong size is refused before anything is
    // decoded, so a huge image never allocates its pixels first. A header the
    // decoder cannot read is refused too: stb_image's loaders are laxer than its
    // header readers (a PIC it cannot size may still decode to 4351 x 65504).
    int width = 0;
    int height = 0;
    int channels = 0;
    const bool sized = stbi_info(path, &width, &height, &channels) != 0;
    if (sized)
        check_decoded_size(path, width, height);

    const char* refusal = sized ? refused_before_decoding(path) : stbi_failure_reason();
    unsigned char* data = refusal ? nullptr : stbi_load(path, &width, &height, &channels, 4);
    if (!data)
        std::printf("error loading image %s with stb_image, %s\n", path,
                    refusal ? refusal : stbi_failure_reason());
    FATAL_CHECK(data != 0, FN);
    check_decoded_size(path, width, height);

    const uint32_t format = copy_decoded(fb, data, display_plane_has_format(h, FORMAT_XB24));
    stbi_image_free(data);
    return format;
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
