#include "image/stb_formats.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

namespace {

uint32_t le16(const unsigned char* p) { return p[0] | p[1] << 8; }
uint32_t le32(const unsigned char* p) { return le16(p) | le16(p + 2) << 16; }
uint32_t be16(const unsigned char* p) { return p[0] << 8 | p[1]; }

bool pnm_space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// A variant named with a number from its header.
const char* numbered(const char* format, uint32_t n)
{
    static char text[64];
    std::snprintf(text, sizeof text, format, n);
    return text;
}

// stb_image reads header sizes 12, 40, 56, 108 and 124, no compression but bit
// fields, 1, 4, 8, 16, 24 and 32 bits a pixel, and channels of at most 8 bits.
// Other values a valid BMP may hold are named; any other is the decoder's business.
const char* bmp_variant(const unsigned char* h, size_t n)
{
    if (n < 34)
        return nullptr; // cut short: the decoder's own reason says so
    const uint32_t header = le32(h + 14);
    if (header == 16 || header == 52 || header == 64)
        return numbered("BMP with a %u-byte header", header);
    const uint32_t compression = header == 12 ? 0 : le32(h + 30);
    if (compression == 1 || compression == 2)
        return "RLE-compressed BMP";
    if (compression == 4 || compression == 5)
        return compression == 4 ? "JPEG-compressed BMP" : "PNG-compressed BMP";
    if (compression == 6 || (compression >= 11 && compression <= 13))
        return numbered("BMP of compression method %u", compression);
    const uint32_t bpp = le16(h + (header == 12 ? 24 : 28));
    if (bpp == 2 || bpp == 64)
        return numbered("BMP of %u bits a pixel", bpp);
    if (compression != 3)
        return nullptr;
    // stb_image looks for the masks after a 56-byte header, which holds them itself.
    if (header == 56)
        return "BMP with bit-field masks in a 56-byte header";
    const int masks = header >= 108 ? 4 : 3;
    for (int i = 0; i < masks && n >= size_t(58 + 4 * i); ++i)
        if (std::popcount(le32(h + 54 + 4 * i)) > 8)
            return "BMP of more than 8 bits a channel";
    return nullptr;
}

const char* psd_variant(const unsigned char* h, size_t n)
{
    static constexpr const char* MODES[] = {"bitmap PSD", "greyscale PSD", "indexed-colour PSD",
                                            nullptr, "CMYK PSD", nullptr, nullptr,
                                            "multichannel PSD", "duotone PSD", "Lab colour PSD"};
    if (n < 26)
        return nullptr;
    if (be16(h + 4) == 2)
        return "PSB (large document format)";
    if (be16(h + 12) > 16)
        return "PSD of more than 16 channels";
    const uint32_t depth = be16(h + 22);
    if (depth != 8 && depth != 16)
        return numbered("PSD of %u bits a channel", depth);
    const uint32_t mode = be16(h + 24);
    if (mode == 3)
        return nullptr;
    return mode < std::size(MODES) && MODES[mode] ? MODES[mode] : "PSD in a colour mode other than RGB";
}

// stb_image shows the transparent colour of a GIF's first image as black (not the
// colour the palette stores), and the screen around a first image that does not
// cover it as black where the background is colour 0.
const char* gif_variant(const unsigned char* h, size_t n)
{
    if (n < 13)
        return nullptr;
    size_t at = 13 + (h[10] & 0x80 ? 3u << ((h[10] & 7) + 1) : 0);
    while (at + 3 < n && h[at] == 0x21) { // extensions before the first image
        if (h[at + 1] == 0xF9 && (h[at + 3] & 1))
            return "GIF with a transparent colour";
        for (at += 2; at < n && h[at] != 0; at += h[at] + 1u) // its sub-blocks
            ;
        ++at;
    }
    if (at + 9 > n || h[at] != 0x2C)
        return nullptr;
    const bool covers = le16(h + at + 1) == 0 && le16(h + at + 3) == 0 &&
                        le16(h + at + 5) == le16(h + 6) && le16(h + at + 7) == le16(h + 8);
    return covers ? nullptr : "GIF whose first image does not cover its screen";
}

// Radiance: header lines up to an empty one, then the resolution line. stb_image
// wants "FORMAT=32-bit_rle_rgbe" and rows top to bottom, pixels left to right.
const char* hdr_variant(std::string_view text)
{
    bool rgbe = false;
    size_t at = text.find('\n');
    if (at == text.npos || (text.substr(0, at) != "#?RADIANCE" && text.substr(0, at) != "#?RGBE"))
        return nullptr;
    for (;;) {
        const size_t end = text.find('\n', at + 1);
        if (end == text.npos)
            return nullptr;
        const std::string_view line = text.substr(at + 1, end - at - 1);
        at = end;
        if (line.empty())
            break;
        if (line.starts_with("FORMAT=") && line != "FORMAT=32-bit_rle_rgbe")
            return line == "FORMAT=32-bit_rle_xyze" ? "XYZE Radiance HDR" : nullptr;
        rgbe = rgbe || line == "FORMAT=32-bit_rle_rgbe";
    }
    if (!rgbe)
        return "Radiance HDR without a FORMAT line";
    const std::string_view size = text.substr(at + 1, 32);
    const bool layout = size.size() >= 2 && (size[0] == '+' || size[0] == '-') &&
                        (size[1] == 'X' || size[1] == 'Y');
    if (!layout || (size.starts_with("-Y ") && size.find(" +X ") != size.npos))
        return nullptr;
    return "Radiance HDR in a rotated or flipped pixel order";
}

const char* pnm_variant(const image_source& src)
{
    const unsigned char* h = src.head;
    if (h[1] == '5' || h[1] == '6') {
        const long maximum = pnm_maximum(src);
        if (maximum > 65535)
            return "PNM with a maximum above 65535";
        if (maximum > 255)
            return "16-bit PNM";
        return maximum == 0 ? "PNM with a maximum of 0" : nullptr;
    }
    if (!pnm_space(h[2]))
        return nullptr;
    switch (h[1]) {
    case '1': return "plain (text) PBM";
    case '2': return "plain (text) PGM";
    case '3': return "plain (text) PPM";
    case '4': return "PBM (1 bit a pixel)";
    case '7': return "PAM";
    default: return nullptr;
    }
}

// stb_image turns a TGA upside down when its descriptor asks, and ignores the
// rest: the right-to-left and interleave bits, and the index a colour map starts at.
const char* tga_variant(const unsigned char* h, size_t n)
{
    if (n < 18)
        return nullptr;
    if (h[17] & 0x10)
        return "right-to-left TGA";
    if (h[17] & 0xC0)
        return "interleaved TGA";
    if (h[1] == 1 && le16(h + 3) != 0)
        return "TGA whose colour map starts after entry 0";
    return nullptr;
}

} // namespace

const char* stb_unsupported_variant(const image_source& src, bool tga)
{
    const unsigned char* h = src.head;
    const size_t n = src.head_len;
    const auto starts = [&](std::string_view signature) {
        return n >= signature.size() && std::memcmp(h, signature.data(), signature.size()) == 0;
    };
    if (starts("BM"))
        return bmp_variant(h, n);
    if (starts("GIF8"))
        return gif_variant(h, n);
    if (starts("8BPS"))
        return psd_variant(h, n);
    if (starts("#?"))
        return hdr_variant({reinterpret_cast<const char*>(h), n});
    if (n >= 3 && h[0] == 'P')
        return pnm_variant(src);
    return tga ? tga_variant(h, n) : nullptr;
}

long pnm_maximum(const image_source& src)
{
    const unsigned char* h = src.head;
    const size_t n = src.head_len;
    if (n < 2 || h[0] != 'P' || (h[1] != '5' && h[1] != '6'))
        return -1;
    // Width, height, maximum: white space and # comments before each, as
    // stb_image skips them.
    size_t at = 2;
    long value = -1;
    for (int field = 0; field < 3; ++field) {
        for (;;) {
            while (at < n && pnm_space(h[at]))
                ++at;
            if (at >= n || h[at] != '#')
                break;
            while (at < n && h[at] != '\n' && h[at] != '\r')
                ++at;
        }
        value = 0;
        for (; at < n && h[at] >= '0' && h[at] <= '9'; ++at)
            value = std::min(value * 10 + (h[at] - '0'), 65536L);
    }
    return value;
}

bool scale_pnm_samples(unsigned char* rgba, size_t pixels, long maximum)
{
    if (maximum <= 0 || maximum >= 255)
        return true;
    unsigned char scaled[256];
    for (long v = 0; v <= maximum; ++v)
        scaled[v] = static_cast<unsigned char>((v * 255 + maximum / 2) / maximum);
    for (unsigned char* p = rgba; p != rgba + pixels * 4; p += 4) {
        if (p[0] > maximum || p[1] > maximum || p[2] > maximum)
            return false;
        p[0] = scaled[p[0]];
        p[1] = scaled[p[1]];
        p[2] = scaled[p[2]];
    }
    return true;
}
