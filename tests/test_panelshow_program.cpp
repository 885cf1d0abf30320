// panelshow as a user runs it, on the fake DRM device.
#include "image/image_load.h"
#include "image_encoders.h"
#include "program_run.h"

#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int WIDE_W = 1920; // mode 1 of the fake device; smaller images keep tests quick
constexpr int WIDE_H = 1080;

struct panelshow_run : finished_run {
    std::string frame; // the frame shown last
    std::string log;   // the device's requests
};

// Runs panelshow on a new fake device; a run that holds the image is ended then.
panelshow_run run_panelshow(const std::vector<std::string>& args, const std::string& fake_config = "")
{
    fake_panel panel;
    running_program p =
        start_on_panel("panelshow", args, panel, {fake_config, true, stdin_kind::null_device});
    const finished_run r = finish_holding(p, panel);
    return {r, read_file(panel.frame_path()), read_file(panel.log_path())};
}

std::string fatal(const std::string& condition)
{
    return "panelshow: src/image/image_load.cpp:[0-9]+: display_create_fb: Assertion `" +
           condition + "' failed\\.\n";
}

// A failed system call adds its reason on the next line; the image's own checks
// have given theirs on standard output.
void expect_fatal(const panelshow_run& r, const std::string& condition_regex,
                  const std::string& reason_regex = "")
{
    EXPECT_EQ(r.status, 1);
    const std::string reason = reason_regex.empty() ? "" : "panelshow: " + reason_regex + "\n";
    EXPECT_TRUE(std::regex_match(r.err, std::regex(fatal(condition_regex) + reason))) << r.err;
}

// Every pixel differs from its neighbours, so a shifted or swapped byte shows.
std::string raw_frame(int w, int h, size_t extra = 0)
{
    std::string bytes(size_t(w) * h * 4 + extra, '\0');
    uint32_t x = 0x12345678;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

std::vector<uint8_t> rgba_pixels(int w, int h)
{
    std::vector<uint8_t> px(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &px[(size_t(y) * w + x) * 4];
            p[0] = uint8_t(x * 7 + y);
            p[1] = uint8_t(x ^ y);
            p[2] = uint8_t(y * 3 + 11);
            p[3] = (x + y) % 5 == 0 ? 0 : uint8_t(x + 2 * y); // some fully transparent
        }
    return px;
}

std::string write_png(const temp_dir& dir, const std::string& name, int w, int h)
{
    const std::vector<uint8_t> px = rgba_pixels(w, h);
    const std::string path = dir.file(name);
    stbi_write_png(path.c_str(), w, h, 4, px.data(), w * 4);
    return path;
}

constexpr int SMALL_W = 64; // the fake device's mode with SMALL_MODE
constexpr int SMALL_H = 32;
const std::string SMALL_MODE = "conn=64x32@60";

// "" when every colour byte of the shown frame is within `levels` of what
// stb_image, the independent decoder, makes of `file`; else the first that is not.
std::string differs_from_stb(const std::string& frame, const std::string& file, int levels,
                             bool xr24 = false)
{
    int w = 0, h = 0, n = 0;
    uint8_t* px = stbi_load_from_memory(reinterpret_cast<const uint8_t*>(file.data()),
                                        int(file.size()), &w, &h, &n, 4);
    std::string verdict = px && frame.size() == size_t(w) * h * 4 ? "" : "sizes differ";
    for (size_t i = 0; verdict.empty() && i < frame.size(); ++i)
        if (i % 4 != 3 && std::abs(uint8_t(frame[xr24 && i % 4 != 1 ? i ^ 2 : i]) - px[i]) > levels)
            verdict = "pixel " + std::to_string(i / 4 % w) + "," + std::to_string(i / 4 / w) +
                      " channel " + std::to_string(i % 4);
    stbi_image_free(px);
    return verdict;
}

// Feeds `bytes` into a new FIFO from a child (a writer blocks until a reader opens).
pid_t feed_fifo(const std::string& path, const std::string& bytes)
{
    mkfifo(path.c_str(), 0600);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(path.c_str(), O_WRONLY);
        _exit(fd >= 0 && write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()) ? 0 : 1);
    }
    return pid;
}

TEST(PanelshowDecoded, PngVariantsShowWhatStbImageShows)
{
    temp_dir dir;
    const std::vector<uint8_t> samples = rgba_pixels(SMALL_W, SMALL_H * 2);
    png_encoding palette{.colour_type = 3, .transparency = {0, 128, 255, 7}};
    for (int i = 0; i < 256 * 3; ++i)
        palette.palette.push_back(uint8_t(i * 7));
    const std::pair<std::string, png_encoding> variants[] = {
        {"grey", {.colour_type = 0}},       {"grey+alpha", {.colour_type = 4}},
        {"palette+tRNS", palette},          {"16-bit", {.bit_depth = 16}},
        {"palette+tRNS, XR24", palette},
        {"2-bit palette, interlaced, XR24",
         {.colour_type = 3, .bit_depth = 2, .interlaced = true, .palette = {9, 8, 7, 60, 50, 40, 1, 2, 3, 200, 100, 0}}},
        {"interlaced, XR24", {.colour_type = 6, .interlaced = true}},
        {"damaged checksum", {}},
    };
    for (const auto& [kind, how] : variants) {
        std::string png = encode_png(samples.data(), SMALL_W, SMALL_H, how);
        if (kind == "damaged checksum")
            png[30] ^= 0x55; // in IHDR's CRC, which stb_image never checks
        write_file(dir.file("img.png"), png);
        const bool xr24 = kind.ends_with("XR24");
        const panelshow_run r = run_panelshow({dir.file("img.png")},
                                              SMALL_MODE + (xr24 ? ";noxbgr" : ""));
        EXPECT_EQ(r.status, -1) << kind << ": " << r.out << r.err;
        EXPECT_EQ(differs_from_stb(r.frame, png, 0, xr24), "") << kind;
    }
}

TEST(PanelshowDecoded, JpegVariantsShowWithinDecoderRounding)
{
    // Smooth, as photographs mostly are: decoders differ most on sharp edges.
    temp_dir dir;
    std::vector<uint8_t> rgb;
    for (int y = 0; y < SMALL_H; ++y)
        for (int x = 0; x < SMALL_W; ++x)
            rgb.insert(rgb.end(), {uint8_t(x * 3 + y), uint8_t(200 - x - y * 2), uint8_t(x * y / 9)});
    const std::pair<const char*, jpeg_encoding> variants[] = {
        {"grey", {.components = 1, .h_sampling = 1, .v_sampling = 1}},
        {"4:4:4", {.h_sampling = 1, .v_sampling = 1}},
        {"4:2:2", {.h_sampling = 2, .v_sampling = 1}},
        {"4:2:0 progressive", {.progressive = true}},
        {"restart markers", {.restart_rows = 1}},
    };
    for (const auto& [kind, how] : variants) {
        const std::string jpeg = encode_jpeg(rgb.data(), SMALL_W, SMALL_H, how);
        write_file(dir.file("img.jpg"), jpeg);
        const panelshow_run r = run_panelshow({dir.file("img.jpg")}, SMALL_MODE);
        EXPECT_EQ(r.status, -1) << kind << ": " << r.out << r.err;
        EXPECT_EQ(differs_from_stb(r.frame, jpeg, 3), "") << kind;
    }
}

TEST(PanelshowDecoded, RejectedJpegsGiveLibjpegsReason)
{
    temp_dir dir;
    const std::vector<uint8_t> px = rgba_pixels(SMALL_W, SMALL_H);
    const std::string grey = encode_jpeg(px.data(), SMALL_W, SMALL_H, {.components = 1});
    const std::pair<std::string, std::string> cases[] = {
        {encode_jpeg(px.data(), SMALL_W, SMALL_H, {.components = 4, .h_sampling = 1, .v_sampling = 1}),
         "Unsupported color conversion request"},
        {grey.substr(0, grey.size() / 2), "Premature end of input file"},
    };
    for (const auto& [file, reason] : cases) {
        write_file(dir.file("img.jpg"), file);
        const panelshow_run r = run_panelshow({dir.file("img.jpg")}, SMALL_MODE);
        EXPECT_EQ(r.out, "Targeting mode[0] (64 x 32 @ 60Hz)\nerror loading image " +
                             dir.file("img.jpg") + " with libjpeg, " + reason + "\n");
        expect_fatal(r, "data != 0");
    }
}

TEST(PanelshowDecoded, TopDownBmpIsShownTheRightWayUp)
{
    // The encoder writes rows bottom-up; negating the height turns them the other way.
    temp_dir dir;
    const std::vector<uint8_t> px = rgba_pixels(SMALL_W, SMALL_H);
    stbi_write_bmp(dir.file("img.bmp").c_str(), SMALL_W, SMALL_H, 4, px.data());
    std::string bmp = read_file(dir.file("img.bmp"));
    const size_t offset = bmp.size() - size_t(SMALL_W) * SMALL_H * 4, row = SMALL_W * 4;
    std::string flipped = bmp.substr(0, offset);
    for (size_t y = SMALL_H; y-- > 0;)
        flipped += bmp.substr(offset + y * row, row);
    flipped[22] = char(-SMALL_H), flipped[23] = flipped[24] = flipped[25] = char(0xFF);
    write_file(dir.file("img.bmp"), flipped);
    const panelshow_run r = run_panelshow({dir.file("img.bmp")}, SMALL_MODE);
    EXPECT_EQ(r.status, -1) << r.out << r.err;
    EXPECT_EQ(differs_from_stb(r.frame, bmp, 0), "");
}

TEST(PanelshowDecoded, ImageThroughAPipeIsReadOnce)
{
    temp_dir dir;
    const std::vector<uint8_t> px = rgba_pixels(SMALL_W, SMALL_H);
    const std::string png = encode_png(px.data(), SMALL_W, SMALL_H, {.colour_type = 6});
    const pid_t feeder = feed_fifo(dir.file("piped.png"), png);
    const panelshow_run r = run_panelshow({dir.file("piped.png")}, SMALL_MODE);
    kill(feeder, SIGKILL), waitpid(feeder, nullptr, 0);
    EXPECT_EQ(r.status, -1) << r.out << r.err;
    EXPECT_EQ(differs_from_stb(r.frame, png, 0), "");
}

TEST(PanelshowRawFrame, FrameThroughAFifoIsReadUntilFull)
{
    temp_dir dir;
    const std::string frame = raw_frame(256, 128); // 128 KiB: two FIFO reads at least
    const pid_t feeder = feed_fifo(dir.file("fifo.rgb"), frame);
    const panelshow_run r = run_panelshow({dir.file("fifo.rgb")}, "conn=256x128@60");
    kill(feeder, SIGKILL), waitpid(feeder, nullptr, 0);
    EXPECT_EQ(r.status, -1) << r.out << r.err;
    EXPECT_TRUE(r.frame == frame);
}

TEST(PanelshowRawPath, NameDecidesTheLoadPath)
{
    EXPECT_TRUE(is_raw_frame_path(".rgb"));
    EXPECT_TRUE(is_raw_frame_path("dir/frame.rgb"));
    EXPECT_FALSE(is_raw_frame_path("frame.RGB"));
    EXPECT_FALSE(is_raw_frame_path("frame.rgb.png"));
    EXPECT_FALSE(is_raw_frame_path("rgb"));
}

TEST(PanelshowCommandLine, UsageLinesAndStatuses)
{
    const std::string usage = "usage: " + built_program("panelshow") +
                              " <image> [-v (verbose)] [-m <mode_sel>]\n";
    struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{}, 0},
        {{"img.png", "-m"}, 0},
        {{"img.png", "-v", "-m"}, 0},
        {{"img.png", "-x"}, 1},
        {{"img.png", "other.png"}, 1},
        {{"img.png", "-m", "1", "--v"}, 1},
    };
    for (const auto& c : cases) {
        const panelshow_run r = run_panelshow(c.args);
        EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args);
        EXPECT_EQ(r.out, usage) << testing::PrintToString(c.args);
        EXPECT_EQ(r.err, "");
    }
}

TEST(PanelshowRawFrame, FrameReachesTheBufferByteForByte)
{
    temp_dir dir;
    const std::string frame = raw_frame(4320, 2160, 1000); // longer files are accepted
    write_file(dir.file("img.rgb"), frame);
    const panelshow_run r = run_panelshow({dir.file("img.rgb")});
    EXPECT_EQ(r.status, -1) << "panelshow must hold the image";
    EXPECT_EQ(r.out, "Targeting mode[0] (4320 x 2160 @ 75Hz)\n");
    const std::string shown = r.frame;
    ASSERT_EQ(shown.size(), size_t(4320) * 2160 * 4);
    EXPECT_TRUE(shown == frame.substr(0, shown.size())) << "first differing byte at "
        << std::mismatch(shown.begin(), shown.end(), frame.begin()).first - shown.begin();
    EXPECT_EQ(r.log.find("READ"), std::string::npos)
        << "without -v the flip event is never read";
}

TEST(PanelshowRawFrame, PaddedRowsStillShowThePackedFile)
{
    temp_dir dir;
    const std::string frame = raw_frame(4320, 2160);
    write_file(dir.file("img.rgb"), frame);
    const panelshow_run r = run_panelshow({dir.file("img.rgb")}, "pitch_padding=128");
    EXPECT_EQ(r.status, -1);
    EXPECT_TRUE(r.frame == frame);
}

TEST(PanelshowRawFrame, ShortOrMissingFilesStop)
{
    temp_dir dir;
    write_file(dir.file("short.rgb"), raw_frame(4320, 2160).substr(1));
    panelshow_run r = run_panelshow({dir.file("short.rgb")});
    EXPECT_EQ(r.out, "Targeting mode[0] (4320 x 2160 @ 75Hz)\nimage " + dir.file("short.rgb") +
                         " doesn't match expected size (read 37324799 bytes instead of 37324800)\n");
    expect_fatal(r, "nread == MODE_WIDTH\\*MODE_HEIGHT\\*4");

    r = run_panelshow({dir.file("missing.rgb")});
    EXPECT_EQ(r.out, "Targeting mode[0] (4320 x 2160 @ 75Hz)\n");
    expect_fatal(r, "fd >= 0", "open /.*/missing\\.rgb: No such file or directory");
}

TEST(PanelshowDecoded, PngShowsItsStoredColoursUnblended)
{
    temp_dir dir;
    const std::string png = write_png(dir, "img.png", WIDE_W, WIDE_H);
    const std::vector<uint8_t> px = rgba_pixels(WIDE_W, WIDE_H);

    // A plane that scans out XB24 gets the decoder's bytes as they are.
    panelshow_run r = run_panelshow({png, "-m", "257"});
    EXPECT_EQ(r.out, "Targeting mode[1] (1920 x 1080 @ 60Hz)\n");
    std::string shown = r.frame;
    ASSERT_EQ(shown.size(), px.size());
    EXPECT_TRUE(std::equal(px.begin(), px.end(), reinterpret_cast<const uint8_t*>(shown.data())));

    // A plane without XB24 gets XR24 words of the same colours.
    r = run_panelshow({png, "-m", "1"}, "noxbgr");
    shown = r.frame;
    ASSERT_EQ(shown.size(), px.size());
    for (size_t i = 0; i < px.size(); i += 4) {
        const auto* s = reinterpret_cast<const uint8_t*>(shown.data()) + i;
        if (s[0] != px[i + 2] || s[1] != px[i + 1] || s[2] != px[i]) {
            ADD_FAILURE() << "pixel " << (i / 4) % WIDE_W << "," << (i / 4) / WIDE_W
                          << " shows other colours";
            break;
        }
    }
}

TEST(PanelshowDecoded, WrongSizesNameTheExpectedSize)
{
    temp_dir dir;
    const std::string narrow = write_png(dir, "narrow.png", 100, WIDE_H);
    panelshow_run r = run_panelshow({narrow, "-m", "1"});
    EXPECT_EQ(r.out, "Targeting mode[1] (1920 x 1080 @ 60Hz)\nimage " + narrow +
                         " doesnt match expected size 1920 1080\n");
    expect_fatal(r, "width == MODE_WIDTH");

    const std::string short_png = write_png(dir, "short.png", WIDE_W, 20);
    r = run_panelshow({short_png, "-m", "1"});
    expect_fatal(r, "height == MODE_HEIGHT");
}

TEST(PanelshowDecoded, HugeImageIsRefusedFromItsHeader)
{
    // A PNG header announcing 16384 x 16384 with no image data behind it: the size
    // check must come before any decoding.
    temp_dir dir;
    const unsigned char header[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                    0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                    0, 0, 0x40, 0, 0, 0, 0x40, 0, 8, 6, 0, 0, 0,
                                    0x00, 0x00, 0x00, 0x00};
    write_file(dir.file("huge.png"), std::string(reinterpret_cast<const char*>(header), sizeof header));
    const panelshow_run r = run_panelshow({dir.file("huge.png")});
    EXPECT_EQ(r.out, "Targeting mode[0] (4320 x 2160 @ 75Hz)\nimage " + dir.file("huge.png") +
                         " doesnt match expected size 4320 2160\n");
    expect_fatal(r, "width == MODE_WIDTH");
}

TEST(PanelshowDecoded, UnreadableFilesGiveTheDecodersReasonThenTheSystems)
{
    temp_dir dir;
    panelshow_run r = run_panelshow({dir.file("missing.png")});
    EXPECT_EQ(r.out, "Targeting mode[0] (4320 x 2160 @ 75Hz)\nerror loading image " +
                         dir.file("missing.png") + " with stb_image, can't fopen\n");
    expect_fatal(r, "data != 0", "open /.*/missing\\.png: No such file or directory");

    r = run_panelshow({dir.path});
    EXPECT_EQ(r.out, "Targeting mode[0] (4320 x 2160 @ 75Hz)\nerror loading image " + dir.path +
                         " with stb_image, read error\n");
    expect_fatal(r, "data != 0", "read /.*: Is a directory");

    write_file(dir.file("text.png"), "not an image at all");
    r = run_panelshow({dir.file("text.png")});
    EXPECT_NE(r.out.find("with stb_image, unknown image type\n"), std::string::npos) << r.out;
    expect_fatal(r, "data != 0");
}

TEST(PanelshowVerbose, ReportsTheTimeOnceAfterTheFlip)
{
    temp_dir dir;
    write_file(dir.file("img.rgb"), raw_frame(1920, 1080));
    const panelshow_run r = run_panelshow({dir.file("img.rgb"), "-v", "-m", "1"});
    EXPECT_EQ(r.status, -1) << "still holding after the report";
    EXPECT_TRUE(std::regex_match(r.out, std::regex("Targeting mode\\[1\\] \\(1920 x 1080 @ 60Hz\\)\n"
                                                   "Time from display_flip to image displayed: "
                                                   "[0-9]+\\.[0-9]{3} seconds\n"
                                                   "Image is now displayed\n")))
        << r.out;
}

TEST(PanelshowVerbose, FailedWaitOnlySuppressesTheTime)
{
    temp_dir dir;
    write_file(dir.file("img.rgb"), raw_frame(1920, 1080));
    panelshow_run r = run_panelshow({dir.file("img.rgb"), "-m", "1", "-v"}, "fail=POLL:1:1:5");
    EXPECT_EQ(r.status, -1) << "the image stays up";
    EXPECT_EQ(r.out, "Targeting mode[1] (1920 x 1080 @ 60Hz)\n");
    EXPECT_EQ(r.err, "poll: Input/output error\n");

    r = run_panelshow({dir.file("img.rgb"), "-m", "1", "-v"}, "fail=READ:1:1:5");
    EXPECT_EQ(r.err, "read drm event: Input/output error\n");
}

TEST(PanelshowVerbose, LinesReachTheFileWhileTheFlipEventIsAwaited)
{
    // The event never comes: killed while it waits, the mode line must be out.
    temp_dir dir;
    write_file(dir.file("img.rgb"), raw_frame(1920, 1080));
    const panelshow_run r =
        run_panelshow({dir.file("img.rgb"), "-v", "-m", "1"}, "noevents");
    EXPECT_EQ(r.status, -1) << "still waiting when killed";
    EXPECT_EQ(r.out, "Targeting mode[1] (1920 x 1080 @ 60Hz)\n");
}

TEST(PanelshowDisplay, CommitFailureIsFatalWithoutRetry)
{
    temp_dir dir;
    write_file(dir.file("img.rgb"), raw_frame(1920, 1080));
    const panelshow_run r = run_panelshow({dir.file("img.rgb"), "-m", "1"}, "fail=ATOMIC:1:1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Targeting mode[1] (1920 x 1080 @ 60Hz)\n");
    EXPECT_TRUE(std::regex_match(
        r.err, std::regex("panelshow: src/display/display_fb.cpp:[0-9]+: display_flip: "
                          "Assertion `!ret' failed\\.\n"
                          "panelshow: DRM_IOCTL_MODE_ATOMIC: Invalid argument\n")))
        << r.err;
}

} // namespace
