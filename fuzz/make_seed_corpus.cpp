// Writes the seed corpora of the fuzz targets into <dir>/image, <dir>/panelinfo
// and <dir>/cli: small valid files of every format the decoder reads, full-size
// files in the formats that encode a 4320 x 2160 frame in a few kilobytes, a
// short raw frame, panelquery lines and command lines of every program.
//
// Image seeds start with the target's selector byte (0: decoded image, 1: raw
// frame); see fuzz_image_load.cpp.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#include <stb/stb_image.h>

#include "image_encoders.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>
#include <zlib.h>

namespace {

using bytes = std::vector<uint8_t>;

constexpr int FULL_W = 4320;
constexpr int FULL_H = 2160;
constexpr int SMALL_W = 8;
constexpr int SMALL_H = 4;

std::string out_dir;

void save(const std::string& sub, const std::string& name, const bytes& data)
{
    const std::string dir = out_dir + "/" + sub;
    std::filesystem::create_directories(dir);
    FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size()) {
        std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), name.c_str());
        std::exit(1);
    }
    std::fclose(f);
}

void save_image(const std::string& name, const bytes& file, uint8_t selector = 0)
{
    bytes data{selector};
    data.insert(data.end(), file.begin(), file.end());
    save("image", name, data);
}

void append_to(void* context, void* data, int size)
{
    auto* out = static_cast<bytes*>(context);
    const auto* p = static_cast<const uint8_t*>(data);
    out->insert(out->end(), p, p + size);
}

void put16le(bytes& b, unsigned v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void put16be(bytes& b, unsigned v) { b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)}); }
void put32be(bytes& b, uint32_t v)
{
    b.insert(b.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

std::vector<uint8_t> rgb_pattern(int w, int h)
{
    std::vector<uint8_t> px(size_t(w) * h * 3);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = uint8_t(i * 37 + 11);
    return px;
}

// The decoder must read back what we meant to write, or the seed is worthless.
void check_decodes(const bytes& file, int w, int h, const char* what)
{
    int x = 0, y = 0, n = 0;
    stbi_uc* px = stbi_load_from_memory(file.data(), int(file.size()), &x, &y, &n, 4);
    if (!px || x != w || y != h) {
        std::fprintf(stderr, "%s seed does not decode (%s)\n", what,
                     px ? "wrong size" : stbi_failure_reason());
        std::exit(1);
    }
    stbi_image_free(px);
}

void written_formats()
{
    const std::vector<uint8_t> px = rgb_pattern(SMALL_W, SMALL_H);
    bytes f;
    stbi_write_png_to_func(append_to, &f, SMALL_W, SMALL_H, 3, px.data(), SMALL_W * 3);
    save_image("small.png", f);
    f.clear();
    stbi_write_bmp_to_func(append_to, &f, SMALL_W, SMALL_H, 3, px.data());
    save_image("small.bmp", f);
    f.clear();
    stbi_write_tga_to_func(append_to, &f, SMALL_W, SMALL_H, 3, px.data());
    save_image("small-rle.tga", f);
    f.clear();
    stbi_write_tga_with_rle = 0;
    stbi_write_tga_to_func(append_to, &f, SMALL_W, SMALL_H, 3, px.data());
    save_image("small.tga", f);
    f.clear();
    stbi_write_jpg_to_func(append_to, &f, SMALL_W, SMALL_H, 3, px.data(), 90);
    save_image("small.jpg", f);
    f.clear();
    stbi_write_jpg_to_func(append_to, &f, 16, 16, 3, rgb_pattern(16, 16).data(), 95);
    save_image("small-444.jpg", f);
    f.clear();
    std::vector<float> hdr(px.begin(), px.end());
    for (float& v : hdr)
        v /= 64.0f;
    stbi_write_hdr_to_func(append_to, &f, SMALL_W, SMALL_H, 3, hdr.data());
    save_image("small.hdr", f);
}

// Samples up to `maximum`, which panelshow scales to 0..255.
bytes pnm(const char* magic, int w, int h, int channels, bool with_data, int maximum = 255)
{
    const std::string header = std::string(magic) + "\n# seed\n" + std::to_string(w) + " " +
                               std::to_string(h) + "\n" + std::to_string(maximum) + "\n";
    bytes f(header.begin(), header.end());
    if (with_data) {
        const std::vector<uint8_t> px = rgb_pattern(w, h);
        for (size_t i = 0; i < size_t(w) * h * channels; ++i)
            f.push_back(uint8_t(px[i] % (maximum + 1)));
    }
    return f;
}

// Photoshop: 3 channels of 8 bits, planar; raw or PackBits rows.
bytes psd(int w, int h, bool packbits)
{
    bytes f{'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
    put16be(f, 3);
    put32be(f, uint32_t(h));
    put32be(f, uint32_t(w));
    put16be(f, 8);
    put16be(f, 3); // RGB
    put32be(f, 0); // colour mode data
    put32be(f, 0); // image resources
    put32be(f, 0); // layers and masks
    put16be(f, packbits ? 1 : 0);
    if (!packbits) {
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < w * h; ++i)
                f.push_back(uint8_t(c * 80 + i * 3));
        return f;
    }
    // One repeat packet per row of w <= 128 pixels: 2 bytes a row.
    for (int row = 0; row < 3 * h; ++row)
        put16be(f, 2);
    for (int row = 0; row < 3 * h; ++row)
        f.insert(f.end(), {uint8_t(257 - w), uint8_t(row * 40)});
    return f;
}

// Softimage PIC: one RGB packet; mixed run-length rows, one 16-bit run each.
bytes pic(int w, int h)
{
    bytes f{0x53, 0x80, 0xF6, 0x34};
    f.resize(88, 0);
    f.insert(f.end(), {'P', 'I', 'C', 'T'});
    put16be(f, unsigned(w));
    put16be(f, unsigned(h));
    f.insert(f.end(), {0x3F, 0x80, 0, 0}); // aspect ratio 1.0
    put16be(f, 3);                          // full frame
    put16be(f, 0);
    f.insert(f.end(), {0, 8, 2, 0xE0}); // last packet, 8 bits, mixed RLE, RGB
    for (int y = 0; y < h; ++y) {
        f.push_back(128);
        put16be(f, unsigned(w));
        f.insert(f.end(), {uint8_t(y), uint8_t(y * 3), uint8_t(200 - y)});
    }
    return f;
}

// GIF: a 4-colour table and an LZW stream of one colour. The code size follows
// the decoder's own rule (it adds an entry for every code but the first after a
// clear, and widens when that count reaches a power of two).
bytes gif(int w, int h)
{
    bytes f{'G', 'I', 'F', '8', '9', 'a'};
    put16le(f, unsigned(w));
    put16le(f, unsigned(h));
    f.insert(f.end(), {0xF1, 0, 0});                         // global table of 4 colours
    f.insert(f.end(), {40, 90, 200, 255, 255, 255, 0, 0, 0, 9, 9, 9});
    f.push_back(0x2C);
    put16le(f, 0);
    put16le(f, 0);
    put16le(f, unsigned(w));
    put16le(f, unsigned(h));
    f.push_back(0);
    const int min_size = 2;
    f.push_back(min_size);

    const int clear = 1 << min_size;
    bytes stream;
    uint32_t acc = 0;
    int acc_bits = 0;
    int size = min_size + 1;
    auto emit = [&](int code) {
        acc |= uint32_t(code) << acc_bits;
        acc_bits += size;
        while (acc_bits >= 8) {
            stream.push_back(uint8_t(acc));
            acc >>= 8;
            acc_bits -= 8;
        }
    };
    std::map<std::pair<int, int>, int> dict;
    int next_code = 0;
    int decoder_avail = 0;
    bool first_after_clear = true;
    auto start = [&] {
        emit(clear);
        dict.clear();
        size = min_size + 1;
        next_code = decoder_avail = clear + 2;
        first_after_clear = true;
    };
    auto emit_data = [&](int code) {
        emit(code);
        if (!first_after_clear) {
            ++decoder_avail;
            if ((decoder_avail & ((1 << size) - 1)) == 0 && decoder_avail <= 0xFFF)
                ++size;
        }
        first_after_clear = false;
    };
    start();
    int w_code = 0; // every pixel has colour 0
    for (long i = 1; i < long(w) * h; ++i) {
        const auto key = std::make_pair(w_code, 0);
        if (const auto it = dict.find(key); it != dict.end()) {
            w_code = it->second;
            continue;
        }
        emit_data(w_code);
        dict[key] = next_code++;
        w_code = 0;
        if (next_code == 4096)
            start();
    }
    emit_data(w_code);
    emit(clear + 1);
    if (acc_bits > 0)
        stream.push_back(uint8_t(acc));
    for (size_t at = 0; at < stream.size(); at += 255) {
        const size_t n = std::min<size_t>(255, stream.size() - at);
        f.push_back(uint8_t(n));
        f.insert(f.end(), stream.begin() + long(at), stream.begin() + long(at + n));
    }
    f.insert(f.end(), {0, 0x3B});
    return f;
}

void handwritten_formats()
{
    const std::pair<std::string, bytes> small[] = {
        {"small-p6.ppm", pnm("P6", SMALL_W, SMALL_H, 3, true)},
        {"small-p5.pgm", pnm("P5", SMALL_W, SMALL_H, 1, true)},
        {"small-p6-max15.ppm", pnm("P6", SMALL_W, SMALL_H, 3, true, 15)},
        {"small-p5-max1.pgm", pnm("P5", SMALL_W, SMALL_H, 1, true, 1)},
        {"small.psd", psd(SMALL_W, SMALL_H, false)},
        {"small-rle.psd", psd(SMALL_W, SMALL_H, true)},
        {"small.pic", pic(SMALL_W, SMALL_H)},
        {"small.gif", gif(SMALL_W, SMALL_H)},
    };
    for (const auto& [name, file] : small) {
        check_decodes(file, SMALL_W, SMALL_H, name.c_str());
        save_image(name, file);
    }
    // Full size in a few kilobytes: these reach the copy into the framebuffer.
    const bytes full_gif = gif(FULL_W, FULL_H);
    check_decodes(full_gif, FULL_W, FULL_H, "full-size gif");
    save_image("full.gif", full_gif);
    const bytes full_pic = pic(FULL_W, FULL_H);
    check_decodes(full_pic, FULL_W, FULL_H, "full-size pic");
    save_image("full.pic", full_pic);
    save_image("full-header-only.ppm", pnm("P6", FULL_W, FULL_H, 3, false));

    // A raw frame of a few pixels: the raw path reads it and finds it short.
    bytes raw(1024);
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = uint8_t(i);
    save_image("short-frame.rgb", raw, 1);
}

// JPEG and PNG go to libjpeg-turbo and libpng: every variant they take apart
// differently, written by their own encoders.
void row_decoder_variants()
{
    auto as_bytes = [](const std::string& s) { return bytes(s.begin(), s.end()); };
    const std::vector<uint8_t> px = rgb_pattern(SMALL_W * 2, SMALL_H * 2);
    const std::pair<const char*, jpeg_encoding> jpegs[] = {
        {"grey.jpg", {.components = 1, .h_sampling = 1, .v_sampling = 1}},
        {"444.jpg", {.h_sampling = 1, .v_sampling = 1}},
        {"422.jpg", {.h_sampling = 2, .v_sampling = 1}},
        {"progressive.jpg", {.progressive = true}},
        {"restarts.jpg", {.restart_rows = 1}},
        {"cmyk.jpg", {.components = 4, .h_sampling = 1, .v_sampling = 1}},
    };
    for (const auto& [name, how] : jpegs)
        save_image(std::string("lib-") + name,
                   as_bytes(encode_jpeg(px.data(), SMALL_W, SMALL_H, how)));
    const bytes cut = as_bytes(encode_jpeg(px.data(), SMALL_W, SMALL_H, {}));
    save_image("lib-truncated.jpg", bytes(cut.begin(), cut.begin() + long(cut.size() / 2)));

    png_encoding palette{.colour_type = 3, .transparency = {0, 90, 255}};
    for (int i = 0; i < 256 * 3; ++i)
        palette.palette.push_back(uint8_t(i * 5));
    const std::pair<const char*, png_encoding> pngs[] = {
        {"grey.png", {.colour_type = 0}},
        {"grey2.png", {.colour_type = 0, .bit_depth = 2}},
        {"grey-alpha.png", {.colour_type = 4}},
        {"palette-trns.png", palette},
        {"rgb16.png", {.colour_type = 2, .bit_depth = 16}},
        {"rgba-interlaced.png", {.colour_type = 6, .interlaced = true}},
    };
    for (const auto& [name, how] : pngs)
        save_image(std::string("lib-") + name,
                   as_bytes(encode_png(px.data(), SMALL_W, SMALL_H, how)));
    bytes damaged = as_bytes(encode_png(px.data(), SMALL_W, SMALL_H, {}));
    damaged[30] ^= 0x55; // IHDR's CRC
    save_image("lib-damaged-crc.png", damaged);

    // Full size in a few kilobytes (1-bit samples, one value): these reach the rows
    // of the framebuffer, plain and interlaced.
    const std::vector<uint8_t> blank(size_t(FULL_W) / 8 * FULL_H, 0);
    save_image("lib-full-grey1.png",
               as_bytes(encode_png(blank.data(), FULL_W, FULL_H, {.colour_type = 0, .bit_depth = 1})));
    png_encoding two_colours{.colour_type = 3, .bit_depth = 1, .interlaced = true,
                             .palette = {10, 20, 30, 200, 100, 50}};
    save_image("lib-full-palette1-interlaced.png",
               as_bytes(encode_png(blank.data(), FULL_W, FULL_H, two_colours)));
}

bytes png_chunk(const char* type, const bytes& data)
{
    bytes c(type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    bytes out;
    put32be(out, uint32_t(data.size()));
    out.insert(out.end(), c.begin(), c.end());
    put32be(out, uint32_t(crc32(0, c.data(), uInt(c.size()))));
    return out;
}

// `chunk` inserted before the first image data chunk of `png`.
bytes with_chunk(bytes png, const bytes& chunk)
{
    const auto idat = std::search(png.begin(), png.end(), std::begin("IDAT"), std::end("IDAT") - 1);
    png.insert(idat - 4, chunk.begin(), chunk.end());
    return png;
}

// Files a hostile operator makes: cut, corrupt, padded, many scans or chunks. Full
// size where a few kilobytes hold them, so that they reach the decoders.
void hostile_kinds()
{
    auto as_bytes = [](const std::string& s) { return bytes(s.begin(), s.end()); };
    auto cut = [](const bytes& f, size_t n) { return bytes(f.begin(), f.begin() + long(std::min(n, f.size()))); };
    const std::vector<uint8_t> px = rgb_pattern(FULL_W, 2);
    bytes f;
    stbi_write_bmp_to_func(append_to, &f, FULL_W, FULL_H, 3, rgb_pattern(FULL_W, FULL_H).data());
    save_image("cut-full.bmp", cut(f, 16384));
    save_image("header-only-full.bmp", cut(f, 54));
    f.clear();
    stbi_write_tga_with_rle = 0;
    stbi_write_tga_to_func(append_to, &f, FULL_W, FULL_H, 3, rgb_pattern(FULL_W, FULL_H).data());
    save_image("cut-full.tga", cut(f, 16384));
    f.clear();
    stbi_write_tga_with_rle = 1;
    std::vector<uint8_t> flat(size_t(FULL_W) * FULL_H * 3, 77);
    stbi_write_tga_to_func(append_to, &f, FULL_W, FULL_H, 3, flat.data());
    save_image("cut-full-rle.tga", cut(f, 16384));
    f.clear();
    std::vector<float> light(size_t(FULL_W) * FULL_H * 3, 0.5f);
    stbi_write_hdr_to_func(append_to, &f, FULL_W, FULL_H, 3, light.data());
    save_image("cut-full.hdr", cut(f, 16384));
    save_image("cut-full.psd", cut(psd(FULL_W, FULL_H, false), 16384));
    save_image("cut-full.ppm", cut(pnm("P6", FULL_W, FULL_H, 3, false), 64));
    const bytes full_gif = gif(FULL_W, FULL_H), full_pic = pic(FULL_W, FULL_H);
    save_image("cut-half-full.gif", cut(full_gif, full_gif.size() / 2));
    save_image("cut-half-full.pic", cut(full_pic, full_pic.size() / 2));

    // JPEG at full size does not fit the target's inputs: small ones.
    const bytes jpg = as_bytes(encode_jpeg(rgb_pattern(16, 16).data(), 16, 16, {}));
    const uint8_t start_of_scan[] = {0xFF, 0xDA};
    const size_t sos = size_t(std::search(jpg.begin(), jpg.end(), std::begin(start_of_scan),
                                          std::end(start_of_scan)) - jpg.begin());
    const size_t scan = sos + 2 + jpg[sos + 2] * 256u + jpg[sos + 3];
    bytes half = cut(jpg, scan + (jpg.size() - scan) / 2), tables = cut(jpg, scan), garbled = jpg;
    half.insert(half.end(), {0xFF, 0xD9});
    tables.insert(tables.end(), {0xFF, 0xD9});
    std::memset(garbled.data() + scan + 4, 0x55, std::min<size_t>(64, jpg.size() - scan - 6));
    save_image("lib-half-scan-eoi.jpg", half);
    save_image("lib-tables-only.jpg", tables);
    save_image("lib-overwritten.jpg", garbled);
    std::vector<uint8_t> grey(64);
    save_image("lib-101-scans.jpg", as_bytes(encode_jpeg(grey.data(), 8, 8, {.components = 1, .h_sampling = 1, .v_sampling = 1, .scans = 101})));

    // Full-size 1-bit PNGs: a pixel beyond a one-entry palette, text and profile
    // chunks, surplus zeros after the last row.
    std::vector<uint8_t> indexes(size_t(FULL_W) / 8 * FULL_H, 0);
    indexes[indexes.size() / 2] = 0x10;
    bytes beyond = as_bytes(encode_png(indexes.data(), FULL_W, FULL_H,
                                       {.colour_type = 3, .bit_depth = 1, .palette = {1, 2, 3, 4, 5, 6}}));
    const auto plte = std::search(beyond.begin(), beyond.end(), std::begin("PLTE"), std::end("PLTE") - 1);
    plte[-1] = 3; // one entry; the second's bytes go
    beyond.erase(plte + 7, plte + 10);
    save_image("lib-full-palette-beyond.png", beyond);
    std::vector<uint8_t> zero_rows(size_t(FULL_W) / 8 * FULL_H, 0);
    const bytes grey1 = as_bytes(encode_png(zero_rows.data(), FULL_W, FULL_H, {.colour_type = 0, .bit_depth = 1}));
    bytes text{'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0, 0x78, 0x9C, 0x03, 0, 0, 0, 0, 1};
    save_image("lib-full-ztxt.png", with_chunk(with_chunk(grey1, png_chunk("zTXt", text)),
                                               png_chunk("iCCP", {'i', 'c', 'c', 0, 0, 0x78, 0x9C})));
    bytes rows(size_t(FULL_W / 8 + 1) * FULL_H + (size_t(1) << 20), 0);
    bytes stream(compressBound(uLong(rows.size())));
    uLongf n = stream.size();
    compress2(stream.data(), &n, rows.data(), uLong(rows.size()), 9);
    stream.resize(n);
    const auto idat = std::search(grey1.begin(), grey1.end(), std::begin("IDAT"), std::end("IDAT") - 1);
    bytes surplus(grey1.begin(), idat - 4);
    const bytes idat_chunk = png_chunk("IDAT", stream), iend = png_chunk("IEND", {});
    surplus.insert(surplus.end(), idat_chunk.begin(), idat_chunk.end());
    surplus.insert(surplus.end(), iend.begin(), iend.end());
    save_image("lib-full-surplus-zeros.png", surplus);
}

void panelinfo_lines()
{
    auto line = [](const std::vector<int>& block27, const std::string& tail) {
        std::string text;
        for (int panel = 0; panel < 2; ++panel) {
            for (int i = 0; i < 27; ++i)
                text += std::to_string(i * 7 % 100) + " ";
            for (int v : block27)
                text += std::to_string(v) + " ";
        }
        return text + tail;
    };
    auto save_text = [](const std::string& name, const std::string& text) {
        save("panelinfo", name, bytes(text.begin(), text.end()));
    };
    save_text("layout1", line({1, 65, 66, 67, 68, 69, 10, 70, 71, 72, 3, 7, 2}, "\n"));
    save_text("layout2", line({80, 78, 49, 50, 51, 52, 53, 54, 55, 56, 57, 48, 65}, "\n"));
    save_text("mixed", "1 2\t3 x -4 +5 99999999999 -2147483649 257 0x10 7abc\nsecond line\n");
    save_text("empty", "");
}

void command_lines()
{
    // Selector byte (program), then the words, each ending in a zero byte.
    auto save_words = [](const std::string& name, uint8_t program,
                         const std::vector<std::string>& words) {
        bytes b{program};
        for (const std::string& w : words) {
            b.insert(b.end(), w.begin(), w.end());
            b.push_back(0);
        }
        save("cli", name, b);
    };
    save_words("panelshow", 0, {"img.png", "-m", "300", "-v"});
    save_words("panelcolor-8", 1, {"-m", "1", "0x10", "32", "48", "64", "80", "96", "7", "5",
                                   "qwer asdf1234zxcv5tgb\t?~"});
    save_words("panelcolor-4", 1, {"255", "0", "0x7", "0", "  q"});
    save_words("paneldefect", 2, {"10", "20", "30", "8q9w0en m1a?~"});
    save_words("timed", 3, {"img.png", "2000000000", "1", "-b", "150", "-m", "-1", "-i", "3"});
    save_words("sequence", 4, {"/images", "100000000", "-5", "-m", "257"});
}

// Image files kept because they once broke the load (tests/data/stb-crashes/),
// with the selector byte their name asks for.
void kept_images(const std::filesystem::path& dir)
{
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        FILE* f = std::fopen(entry.path().c_str(), "rb");
        if (!f) {
            std::fprintf(stderr, "cannot read %s\n", entry.path().c_str());
            std::exit(1);
        }
        bytes b{static_cast<uint8_t>(entry.path().extension() == ".rgb" ? 1 : 0)};
        for (int c; (c = std::fgetc(f)) != EOF;)
            b.push_back(static_cast<uint8_t>(c));
        std::fclose(f);
        save("image", "kept-" + entry.path().filename().string(), b);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s <output directory> [<kept image folder>]\n", argv[0]);
        return 2;
    }
    out_dir = argv[1];
    written_formats();
    handwritten_formats();
    row_decoder_variants();
    hostile_kinds();
    panelinfo_lines();
    command_lines();
    if (argc == 3)
        kept_images(argv[2]);
    return 0;
}
