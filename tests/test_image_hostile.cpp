// panelshow on hostile image files: cut, corrupt or padded files of every format
// are refused or shown exactly as the file holds them, at a cost bounded by the
// frame; files that break the decoder (stb_image 2.27) are refused before anything
// is decoded into memory the decoder does not own.
#include "image_encoders.h"
#include "program_run.h"

#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#include <zlib.h>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct outcome : finished_run {
    std::string log;
    std::string frame;
};

// panelshow on the 64 x 32 mode of a new fake device (`xr24`: its plane lacks
// XB24); a run that holds the image is ended then (status -1).
outcome run_panelshow(const std::string& image, bool xr24 = false)
{
    fake_panel panel;
    running_program p = start_on_panel("panelshow", {image}, panel,
                                       {xr24 ? "conn=64x32@60;noxbgr" : "conn=64x32@60", true,
                                        stdin_kind::null_device});
    const finished_run r = finish_holding(p, panel);
    return {r, read_file(panel.log_path()), read_file(panel.frame_path())};
}

constexpr int W = 64; // the fake device's mode in run_panelshow
constexpr int H = 32;

// Colours that differ from pixel to pixel, so a made-up or shifted one shows.
std::vector<uint8_t> pixels(int channels)
{
    std::vector<uint8_t> px(size_t(W) * H * channels);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = uint8_t(i * 37 + i / 97 + 11);
    return px;
}

void append(void* out, void* data, int n) { static_cast<std::string*>(out)->append(static_cast<char*>(data), size_t(n)); }

std::string stb_written(char kind)
{
    std::string f;
    const std::vector<uint8_t> px = pixels(3);
    std::vector<float> hdr(px.begin(), px.end());
    stbi_write_tga_with_rle = kind == 'R';
    if (kind == 'B')
        stbi_write_bmp_to_func(append, &f, W, H, 3, px.data());
    else if (kind == 'H')
        stbi_write_hdr_to_func(append, &f, W, H, 3, hdr.data());
    else
        stbi_write_tga_to_func(append, &f, W, H, 3, px.data());
    return f;
}

std::string be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// Photoshop, three 8-bit planes: raw, or PackBits rows of one literal run each;
// `resources` bytes of image resources before them.
std::string psd(bool packbits, uint32_t resources = 0)
{
    std::string f = "8BPS" + std::string("\0\1\0\0\0\0\0\0\0\3", 10) + be32(H) + be32(W) +
                    std::string("\0\x08\0\3", 4) + be32(0) + be32(resources) + std::string(resources, 'r') +
                    be32(0) + std::string{0, char(packbits)};
    const std::vector<uint8_t> px = pixels(3);
    for (int row = 0; packbits && row < 3 * H; ++row)
        f += std::string{0, char(W + 1)};
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < W * H; ++i)
            f += (packbits && i % W == 0 ? std::string{char(W - 1)} : "") + char(px[size_t(i) * 3 + c]);
    return f;
}

// A binary PGM (type '5') or PPM ('6') of samples up to `maximum`; `as_255`: the
// same picture with the maximum 255, each sample scaled and rounded.
std::string pnm(char type, int maximum = 255, bool as_255 = false)
{
    std::string f = std::string{'P', type} + "\n64 32\n" + std::to_string(as_255 ? 255 : maximum) + "\n";
    for (const uint8_t v : pixels(type == '6' ? 3 : 1))
        f += char(as_255 ? std::lround(v % (maximum + 1) * 255.0 / maximum) : v % (maximum + 1));
    return f;
}
std::string ppm() { return pnm('6'); }

// A GIF of 128 grey levels, stored without compression: 8-bit codes, with a clear
// code before every 126 so that they never widen. `extension` comes before the
// image, which is `width` wide.
std::string gif(const std::string& extension = "", int width = W)
{
    std::string f = "GIF89a" + std::string{char(W), 0, char(H), 0, '\xF6', 0, 0}, codes;
    for (int i = 0; i < 128; ++i)
        f += std::string(3, char(i * 2));
    const std::vector<uint8_t> px = pixels(1);
    for (int i = 0; i < width * H; ++i)
        codes += (i % 126 ? "" : "\x80") + std::string(1, char(px[size_t(i)] % 128));
    f += extension + ',' + std::string{0, 0, 0, 0, char(width), 0, char(H), 0, 0, 7};
    for (size_t at = 0; at < codes.size() + 1; at += 255)
        f += char(std::min<size_t>(255, codes.size() + 1 - at)) + (codes + '\x81').substr(at, 255);
    return f + std::string("\0;", 2);
}

std::string chunk(const std::string& type, const std::string& data)
{
    std::string c = type + data;
    return be32(uint32_t(data.size())) + c +
           be32(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(c.data()), uInt(c.size()))));
}

// An 8-bit PNG of colour type 2 (red, green, blue) or 3 (palette) with the chunks
// `before` its image data; the compressed stream carries `surplus` zero bytes after
// the last row, stored uncompressed.
std::string png(int colour, const std::string& before, size_t surplus = 0, int palette = 256)
{
    const int channels = colour == 2 ? 3 : 1;
    const std::vector<uint8_t> px = pixels(channels);
    std::string rows;
    for (auto row = px.begin(); row != px.end(); row += W * channels)
        rows += '\0' + std::string(row, row + W * channels);
    rows.resize(rows.size() + surplus, '\0');
    std::string z(compressBound(uLong(rows.size())), '\0');
    uLongf z_len = z.size();
    compress2(reinterpret_cast<Bytef*>(z.data()), &z_len, reinterpret_cast<const Bytef*>(rows.data()),
              uLong(rows.size()), surplus ? 0 : 6);
    std::string plte;
    for (int i = 0; i < palette * 3; ++i)
        plte += char(i * 5 + 3);
    return "\x89PNG\r\n\x1a\n" + chunk("IHDR", be32(W) + be32(H) + char(8) + char(colour) + std::string(3, '\0')) +
           (colour == 3 ? chunk("PLTE", plte) : "") + before + chunk("IDAT", z.substr(0, z_len)) +
           chunk("IEND", "");
}

// Up to and with the header of the first scan.
size_t scan_data_start(const std::string& jpg)
{
    const size_t sos = jpg.find("\xFF\xDA");
    return sos + 2 + size_t(uint8_t(jpg[sos + 2])) * 256 + uint8_t(jpg[sos + 3]);
}

// "" when every colour byte shown (as XB24, or XR24) is within `levels` of
// stb_image's picture of `file`, else the first pixel that is not.
std::string differs_from_stb(const std::string& frame, const std::string& file, int levels, bool xr24)
{
    int w = 0, h = 0, n = 0;
    uint8_t* px = stbi_load_from_memory(reinterpret_cast<const uint8_t*>(file.data()),
                                        int(file.size()), &w, &h, &n, 4);
    std::string verdict = px && frame.size() == size_t(w) * h * 4 ? "" : "sizes differ";
    for (size_t i = 0; verdict.empty() && i < frame.size(); ++i)
        if (i % 4 != 3 && std::abs(uint8_t(frame[xr24 && i % 4 != 1 ? i ^ 2 : i]) - px[i]) > levels)
            verdict = "pixel " + std::to_string(i / 4 % w) + "," + std::to_string(i / 4 / w);
    stbi_image_free(px);
    return verdict;
}

// Hostile files of every decoder, each refused with its reason (and the line after
// the diagnostic that says why, where the reason does not) or shown (reason "") as
// the file holds it: the intact file's picture, compared with stb_image's.
TEST(PanelshowHostileImage, CutCorruptOrPaddedFilesAreRefusedOrShownExactly)
{
    const std::string bmp = stb_written('B'), tga = stb_written('T'), rle_tga = stb_written('R');
    const std::string hdr = stb_written('H'), raw_psd = psd(false), rle_psd = psd(true);
    const jpeg_encoding grey_how{.components = 1, .h_sampling = 1, .v_sampling = 1};
    auto jpeg = [](const jpeg_encoding& how) { return encode_jpeg(pixels(how.components).data(), W, H, how); };
    auto with_scans = [&](int scans) { jpeg_encoding how = grey_how; how.scans = scans; return jpeg(how); };
    const std::string base = jpeg({}), grey = jpeg(grey_how);
    const size_t scan = scan_data_start(base);
    std::string garbled = base;
    garbled.replace(scan + 200, 64, 64, '\x55');
    const std::string text = chunk("tEXt", std::string("Comment\0", 8) + std::string(5000, 'x')) +
                             chunk("zTXt", std::string("Big\0\0x\x9c\x03\0", 9)) +
                             chunk("iCCP", std::string("icc\0\0\xff\xff", 7));
    const std::string apng = chunk("acTL", be32(2) + be32(0)) +
                             chunk("fcTL", be32(0) + be32(W) + be32(H) + be32(0) + be32(0) + std::string(6, '\0'));
    const std::string rgb_png = png(2, "");
    std::string rle_bmp = bmp, plain_pgm = pnm('5'), cmyk_psd = raw_psd, mirrored_tga = tga;
    rle_bmp[30] = 1;
    plain_pgm[1] = '2';
    cmyk_psd[25] = 4;
    mirrored_tga[17] |= 0x10;
    std::string above = pnm('6', 15);
    above[above.size() / 2] = 16;
    struct {
        const char* kind;
        std::string file;
        const char* decoder;
        std::string reason; // "" when the picture is shown
        std::string picture_of; // the file whose picture it is (default: file itself)
        int levels = 0;
        std::string why; // the line after the diagnostic
        bool xr24 = false; // on a plane without XB24
    } cases[] = {
        {"BMP header only", bmp.substr(0, 54), "stb_image", "file ends early"},
        {"BMP cut at half", bmp.substr(0, bmp.size() / 2), "stb_image", "file ends early"},
        {"PSD: 1 MiB of image resources", psd(false, 1 << 20), "stb_image",
         "more data than a frame of this size needs"},
        {"BMP with 4 MiB after it", bmp + std::string(4 << 20, 'x'), "", "", bmp},
        {"TGA header only", tga.substr(0, 18), "stb_image", "file ends early"},
        {"TGA cut at half", tga.substr(0, tga.size() / 2), "stb_image", "file ends early"},
        {"RLE TGA cut at half", rle_tga.substr(0, rle_tga.size() / 2), "stb_image", "file ends early"},
        {"PSD cut at half", raw_psd.substr(0, raw_psd.size() / 2), "stb_image", "file ends early"},
        {"RLE PSD cut at half", rle_psd.substr(0, rle_psd.size() / 2), "stb_image", "file ends early"},
        {"RLE PSD", rle_psd, "", ""},
        {"HDR header only", hdr.substr(0, hdr.find('\n', hdr.find("-Y")) + 1), "stb_image", "file ends early"},
        {"HDR cut at half", hdr.substr(0, hdr.size() / 2), "stb_image", "file ends early"},
        {"PPM header only", ppm().substr(0, 13), "stb_image", "file ends early"},
        {"PPM one byte short", ppm().substr(0, ppm().size() - 1), "stb_image", "file ends early"},
        {"JPEG: half the scan data, then the end marker",
         base.substr(0, scan + (base.size() - scan) / 2) + "\xFF\xD9", "libjpeg",
         "Corrupt JPEG data: premature end of data segment"},
        {"JPEG: tables, no scan data", base.substr(0, scan) + "\xFF\xD9", "libjpeg",
         "Corrupt JPEG data: premature end of data segment"},
        {"JPEG: 64 bytes of scan data overwritten", garbled,
         "libjpeg", "Corrupt JPEG data: 385 extraneous bytes before marker 0xd9"},
        {"JPEG: bytes after the end marker", base + std::string(100000, '\xFF'), "", "", base, 3},
        {"JPEG: progressive in 100 scans", with_scans(100), "", "", "", 3},
        {"JPEG: progressive in 101 scans", with_scans(101), "libjpeg", "Scan number 101 exceeds maximum scans (100)"},
        {"JPEG: no end marker", grey.substr(0, grey.size() - 2), "libjpeg", "Premature end of input file"},
        {"PNG: palette indexes beyond 40 entries", png(3, "", 0, 40), "libpng",
         "Read palette index exceeding num_palette"},
        {"PNG: 256-entry palette", png(3, ""), "", ""},
        {"PNG: text and colour profile chunks", png(2, text), "", "", rgb_png},
        {"PNG: animated, first frame", png(2, apng) + chunk("fdAT", be32(1) + "junk"), "", "", rgb_png},
        {"PNG: 1 MiB of zeros after the last row", png(2, "", 1 << 20), "", "", rgb_png},
        {"PNG: no end chunk", rgb_png.substr(0, rgb_png.size() - 12), "", "", rgb_png},
        {"PNG: cut in its image data", rgb_png.substr(0, rgb_png.size() / 2), "libpng", "file ends early"},
        {"BMP on a plane without XB24", bmp, "", "", "", 0, "", true},
        {"PPM, maximum 15", pnm('6', 15), "", "", pnm('6', 15, true)},
        {"PPM, maximum 254", pnm('6', 254), "", "", pnm('6', 254, true)},
        {"PGM, maximum 1", pnm('5', 1), "", "", pnm('5', 1, true)},
        {"PGM, maximum 2 (halves round up)", pnm('5', 2), "", "", pnm('5', 2, true)},
        {"PGM, maximum 100", pnm('5', 100), "", "", pnm('5', 100, true)},
        {"PPM, a sample above its maximum", above, "stb_image", "PNM sample above its maximum"},
        {"PPM, maximum 0", "P6\n64 32\n0\n" + std::string(W * H * 3, '\0'), "stb_image",
         "PNM with a maximum of 0 not supported"},
        {"TGA, right to left", mirrored_tga, "stb_image", "right-to-left TGA not supported"},
        {"BMP, RLE-compressed", rle_bmp, "stb_image", "unknown image type", "", 0,
         "RLE-compressed BMP not supported"},
        {"PGM, plain (text)", plain_pgm, "stb_image", "unknown image type", "", 0,
         "plain (text) PGM not supported"},
        {"GIF", gif(), "", ""},
        {"GIF with a transparent colour", gif(std::string("!\xF9\4\1\0\0\0\0", 8)), "stb_image",
         "GIF with a transparent colour not supported"},
        {"GIF, first image narrower than its screen", gif("", W / 2), "stb_image",
         "GIF whose first image does not cover its screen not supported"},
        {"PSD, CMYK", cmyk_psd, "stb_image", "unknown image type", "", 0, "CMYK PSD not supported"},
    };
    temp_dir dir;
    for (const auto& c : cases) {
        write_file(dir.file("img"), c.file);
        const outcome r = run_panelshow(dir.file("img"), c.xr24);
        if (!c.reason.empty()) {
            EXPECT_EQ(r.out, "Targeting mode[0] (64 x 32 @ 60Hz)\nerror loading image " + dir.file("img") +
                                 " with " + c.decoder + ", " + c.reason + "\n") << c.kind;
            EXPECT_EQ(r.status, 1) << c.kind;
            EXPECT_NE(r.err.find("Assertion `data != 0' failed."), std::string::npos) << c.kind << ": " << r.err;
            EXPECT_TRUE(r.err.ends_with(c.why.empty() ? "failed.\n" : "panelshow: " + c.why + "\n"))
                << c.kind << ": " << r.err;
            continue;
        }
        EXPECT_EQ(r.status, -1) << c.kind << ": " << r.out << r.err;
        EXPECT_EQ(differs_from_stb(r.frame,
                                   c.picture_of.empty() ? c.file : c.picture_of, c.levels, c.xr24), "")
            << c.kind;
    }
}

// Feeds `file` through a FIFO at `path` and, once panelshow has closed it, returns
// how many bytes it took in (the pipe's own buffer included).
size_t bytes_taken(const std::string& path, const std::string& file, const temp_dir& dir)
{
    mkfifo(path.c_str(), 0600);
    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGPIPE, SIG_IGN);
        const int fd = open(path.c_str(), O_WRONLY);
        size_t fed = 0;
        for (ssize_t n = 1; fd >= 0 && n > 0 && fed < file.size(); fed += size_t(std::max<ssize_t>(n, 0)))
            n = write(fd, file.data() + fed, std::min<size_t>(65536, file.size() - fed));
        write_file(dir.file("taken"), std::to_string(fed));
        _exit(0);
    }
    const outcome r = run_panelshow(path);
    EXPECT_EQ(r.status, -1) << r.out << r.err;
    waitpid(pid, nullptr, 0);
    return std::stoul(read_file(dir.file("taken")));
}

std::string kept(const std::string& name)
{
    return std::string(KDT_TEST_DATA_DIR) + "/stb-crashes/" + name;
}

// What follows a complete picture costs nothing: panelshow reads a first block and
// what the decoder asks for, then closes the file.
TEST(PanelshowHostileImage, NothingAfterTheLastRowIsRead)
{
    const std::pair<const char*, std::string> cases[] = {
        {"BMP with 8 MiB after it", stb_written('B') + std::string(8 << 20, 'x')},
        {"JPEG with 8 MiB after its end marker", encode_jpeg(pixels(3).data(), W, H, {}) + std::string(8 << 20, 'x')},
        {"PNG with 8 MiB of zeros after the last row", png(2, "", 8 << 20)},
    };
    temp_dir dir;
    for (const auto& [kind, file] : cases) {
        const size_t taken = bytes_taken(dir.file(std::string("fifo") + kind[0]), file, dir);
        EXPECT_LT(taken, 160u << 10) << kind << " (a first block of 64 KiB, the pipe's 64 KiB)";
    }
}

// Decoding a 16-bit PNM with 4 channels requested runs past the decoder's own
// buffer in stb_image 2.27 (8-bit channel conversion of 16-bit samples, then the
// 16-to-8 reduction reads twice the bytes). The size check cannot catch it: the
// header gives the mode's size.
TEST(PanelshowHostileImage, SixteenBitPnmIsRefusedBeforeDecoding)
{
    temp_dir dir;
    std::string ppm = "P6\n64 32\n65535\n";
    ppm += std::string(64 * 32 * 6, '\x5a');
    write_file(dir.file("deep.ppm"), ppm);
    const outcome r = run_panelshow(dir.file("deep.ppm"));
    EXPECT_EQ(r.status, 1) << "a 16-bit PNM must be refused, not decoded and shown";
    EXPECT_EQ(r.log.find("ATOMIC"), std::string::npos) << "a frame was committed";
    EXPECT_TRUE(std::regex_match(
        r.err, std::regex("panelshow: src/[a-z_/]+\\.cpp:[0-9]+: display_create_fb: "
                          "Assertion `[^']+' failed\\.\n")))
        << r.err;
}

// stb_image cannot read this PIC's header, yet its loader takes it for 4351 x 65504
// and allocates 1.1 GB before it fails: a header that cannot be read is refused.
TEST(PanelshowHostileImage, UnreadableHeaderIsRefusedBeforeDecoding)
{
    temp_dir dir;
    const std::string pic = kept("pic-unreadable-header.pic");
    const outcome r = run_panelshow(pic);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Targeting mode[0] (64 x 32 @ 60Hz)\nerror loading image " + pic +
                         " with stb_image, unknown image type\n");
    EXPECT_NE(r.err.find("Assertion `data != 0' failed."), std::string::npos) << r.err;
}

} // namespace
