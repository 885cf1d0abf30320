// panelshow's two load paths against the plain operations they are built on:
// the raw path against one read() of the same file; the decode path, and
// panelshow from exec to "Image is now displayed", against each decoder alone
// writing into a plain buffer. The stb_image path as it was is measured beside
// it (stbi_load alone, and a benchmark-only panelshow built with that path).
//
// Photographs are synthetic (no image collection is downloaded): smooth colour
// gradients, soft shapes and per-pixel grain, 4320 x 2160, written at start-up
// as baseline JPEG (4:2:0, q92), progressive JPEG and PNG (8-bit RGB).
// Start-to-picture runs also report panelshow's peak resident memory (peak_MB).
#include "display/display.h"
#include "fake_drm.h"
#include "image/image_load.h"
#include "image_encoders.h"

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>
#include <stb/stb_image.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int W = 4320;
constexpr int H = 2160;
const std::string RAW = "/tmp/kdt-bench-frame.rgb";
const std::string JPG = "/tmp/kdt-bench-photo.jpg";
const std::string PROGRESSIVE = "/tmp/kdt-bench-photo-progressive.jpg";
const std::string PNG = "/tmp/kdt-bench-photo.png";

std::vector<uint8_t> photo_pixels()
{
    std::vector<uint8_t> px(size_t(W) * H * 3);
    uint32_t seed = 12345;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const double fx = x / double(W), fy = y / double(H);
            const double shape = std::sin(fx * 9 + std::cos(fy * 7) * 2) * std::cos(fy * 11 - fx * 3);
            const double base[3] = {90 + 80 * fy + 50 * shape, 120 + 60 * std::sin(fx * 5) - 40 * shape,
                                    160 - 90 * fy + 30 * std::cos(fx * 13 + fy * 4)};
            for (int c = 0; c < 3; ++c) {
                seed = seed * 1103515245u + 12345u;
                const double grain = int(seed >> 27) - 16; // -16 .. 15
                px[(size_t(y) * W + x) * 3 + c] = uint8_t(std::clamp(base[c] + grain * 0.5, 0.0, 255.0));
            }
        }
    return px;
}

void save(const std::string& path, const std::string& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void make_files()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    std::vector<uint8_t> raw(size_t(W) * H * 4);
    for (size_t i = 0; i < raw.size(); ++i)
        raw[i] = uint8_t(i * 31 + i / 4096);
    save(RAW, std::string(raw.begin(), raw.end()));
    const std::vector<uint8_t> px = photo_pixels();
    save(JPG, encode_jpeg(px.data(), W, H, {.quality = 92}));
    save(PROGRESSIVE, encode_jpeg(px.data(), W, H, {.progressive = true, .quality = 92}));
    save(PNG, encode_png(px.data(), W, H, {}));
}

// A display on the fake device with the framebuffer mapped, as panelshow has it
// when it loads the image.
struct mapped_display {
    display_handle h{};
    display_fb fb{};
    mapped_display()
    {
        fake_drm_reset(fake_default_device());
        std::FILE* saved = stdout;
        stdout = std::fopen("/dev/null", "w");
        display_init(h, PANELSHOW_DISPLAY, 0);
        std::fclose(stdout);
        stdout = saved;
        fb = display_map_fb(h);
        std::memset(fb.map, 0, fb.size);
    }
};

// libjpeg-turbo alone: the same file into a plain buffer, red, green, blue, X.
void jpeg_alone(const std::string& path, uint8_t* out)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    jpeg_decompress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_stdio_src(&c, f);
    jpeg_read_header(&c, TRUE);
    c.out_color_space = JCS_EXT_RGBX;
    jpeg_start_decompress(&c);
    while (c.output_scanline < c.output_height) {
        JSAMPROW row = out + size_t(c.output_scanline) * W * 4;
        jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_abort_decompress(&c);
    jpeg_destroy_decompress(&c);
    std::fclose(f);
}

// libpng alone: the same file into a plain buffer, red, green, blue, X.
void png_alone(const std::string& path, uint8_t* out)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_read_info(png, info);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    for (int y = 0; y < H; ++y)
        png_read_row(png, out + size_t(y) * W * 4, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
}

// Into a fresh buffer each time, as a program decoding one picture has it (the
// first write to each page costs a fault): argument "warm" reuses one buffer.
void BM_DecoderAlone(benchmark::State& state, const std::string* path)
{
    make_files();
    std::unique_ptr<uint8_t[]> warm(new uint8_t[size_t(W) * H * 4]());
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> fresh(state.range(0) ? nullptr : new uint8_t[size_t(W) * H * 4]);
        uint8_t* out = fresh ? fresh.get() : warm.get();
        if (path == &PNG)
            png_alone(*path, out);
        else
            jpeg_alone(*path, out);
        benchmark::DoNotOptimize(out);
    }
}

void BM_DecodePath(benchmark::State& state, const std::string* path)
{
    make_files();
    mapped_display d;
    for (auto _ : state)
        benchmark::DoNotOptimize(load_image(d.h, d.fb, path->c_str()));
}

void BM_StbiLoadAlone(benchmark::State& state, const std::string* path)
{
    make_files();
    for (auto _ : state) {
        int w, h, n;
        unsigned char* data = stbi_load(path->c_str(), &w, &h, &n, 4);
        benchmark::DoNotOptimize(data);
        stbi_image_free(data);
    }
}

// The stb_image path as it was, in process: decode, then one block copy.
void BM_StbPathAsItWas(benchmark::State& state, const std::string* path)
{
    make_files();
    mapped_display d;
    for (auto _ : state) {
        int w, h, n;
        unsigned char* data = stbi_load(path->c_str(), &w, &h, &n, 4);
        std::memcpy(d.fb.map, data, size_t(W) * H * 4);
        stbi_image_free(data);
    }
}

// exec of panelshow -v on the fake device until it prints "Image is now
// displayed"; its peak resident memory from wait4.
void BM_StartToPicture(benchmark::State& state, const char* program, const std::string* path)
{
    make_files();
    long peak_kb = 0;
    for (auto _ : state) {
        int out[2];
        if (pipe(out) != 0)
            state.SkipWithError("pipe");
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            setenv("LD_PRELOAD", KDT_FAKE_DRM_LIBRARY, 1);
            execl(program, program, path->c_str(), "-v", nullptr);
            _exit(127);
        }
        close(out[1]);
        std::string text;
        char buf[256];
        for (ssize_t n; text.find("Image is now displayed") == std::string::npos &&
                        (n = read(out[0], buf, sizeof buf)) > 0;)
            text.append(buf, size_t(n));
        state.PauseTiming();
        if (text.find("Image is now displayed") == std::string::npos)
            state.SkipWithError(("no picture: " + text).c_str());
        kill(pid, SIGKILL);
        rusage usage{};
        int status = 0;
        wait4(pid, &status, 0, &usage);
        close(out[0]);
        peak_kb = std::max(peak_kb, usage.ru_maxrss);
        state.ResumeTiming();
    }
    state.counters["peak_MB"] = double(peak_kb) / 1024;
    state.counters["map_MB"] = double(W) * H * 4 / (1024 * 1024);
}

void BM_PlainRead(benchmark::State& state)
{
    make_files();
    std::vector<uint8_t> buf(size_t(W) * H * 4);
    for (auto _ : state) {
        const int fd = open(RAW.c_str(), O_RDONLY);
        benchmark::DoNotOptimize(read(fd, buf.data(), buf.size()));
        close(fd);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * buf.size());
}

void BM_RawPath(benchmark::State& state)
{
    make_files();
    mapped_display d;
    for (auto _ : state)
        benchmark::DoNotOptimize(load_image(d.h, d.fb, RAW.c_str()));
    state.SetBytesProcessed(int64_t(state.iterations()) * W * H * 4);
}

} // namespace

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawPath)->Unit(benchmark::kMillisecond);

#define PHOTO_BENCHMARKS(name, file)                                                            \
    BENCHMARK_CAPTURE(BM_DecoderAlone, name, &file)->ArgName("warm")->Arg(0)->Arg(1)            \
        ->Unit(benchmark::kMillisecond);                                                          \
    BENCHMARK_CAPTURE(BM_DecodePath, name, &file)->Unit(benchmark::kMillisecond);                 \
    BENCHMARK_CAPTURE(BM_StartToPicture, name, KDT_PANELSHOW, &file)                              \
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(7);                             \
    BENCHMARK_CAPTURE(BM_StbiLoadAlone, name, &file)->Unit(benchmark::kMillisecond);              \
    BENCHMARK_CAPTURE(BM_StbPathAsItWas, name, &file)->Unit(benchmark::kMillisecond);             \
    BENCHMARK_CAPTURE(BM_StartToPicture, stb_##name, KDT_PANELSHOW_STB, &file)                    \
        ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(7)

PHOTO_BENCHMARKS(baseline_jpeg, JPG);
PHOTO_BENCHMARKS(progressive_jpeg, PROGRESSIVE);
PHOTO_BENCHMARKS(png, PNG);

BENCHMARK_MAIN();
