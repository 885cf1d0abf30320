// panelshow's two load paths against the plain operations they are built on:
// the raw path against one read() of the same file, the decode path against
// stbi_load alone.
#include "display/display.h"
#include "fake_drm.h"
#include "image/image_load.h"

#include <benchmark/benchmark.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int W = 4320;
constexpr int H = 2160;
const std::string RAW = "/tmp/kdt-bench-frame.rgb";
const std::string PNG = "/tmp/kdt-bench-image.png";
const std::string JPG = "/tmp/kdt-bench-image.jpg";

std::vector<uint8_t> sample_pixels(int channels)
{
    std::vector<uint8_t> px(size_t(W) * H * channels);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            for (int c = 0; c < channels; ++c)
                px[(size_t(y) * W + x) * channels + c] = uint8_t(x * (c + 1) + y * (3 - c));
    return px;
}

void make_files()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    const std::vector<uint8_t> px = sample_pixels(4);
    FILE* f = std::fopen(RAW.c_str(), "wb");
    std::fwrite(px.data(), 1, px.size(), f);
    std::fclose(f);
    stbi_write_png(PNG.c_str(), W, H, 4, px.data(), W * 4);
    const std::vector<uint8_t> rgb = sample_pixels(3);
    stbi_write_jpg(JPG.c_str(), W, H, 3, rgb.data(), 90);
}

// A display on the fake device with the framebuffer mapped, as panelshow has it
// when it loads the image.
struct mapped_display {
    display_handle h{};
    display_fb fb{};
    explicit mapped_display(bool xbgr)
    {
        fake_device dev = fake_default_device();
        if (!xbgr)
            dev.planes[0].formats = {FORMAT_XR24};
        fake_drm_reset(dev);
        std::FILE* saved = stdout;
        stdout = std::fopen("/dev/null", "w");
        display_init(h, PANELSHOW_DISPLAY, 0);
        std::fclose(stdout);
        stdout = saved;
        fb = display_map_fb(h);
        std::memset(fb.map, 0, fb.size);
    }
};

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
    mapped_display d(true);
    for (auto _ : state)
        benchmark::DoNotOptimize(load_image(d.h, d.fb, RAW.c_str()));
    state.SetBytesProcessed(int64_t(state.iterations()) * W * H * 4);
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

void BM_DecodePath(benchmark::State& state, const std::string* path, bool xbgr)
{
    make_files();
    mapped_display d(xbgr);
    for (auto _ : state)
        benchmark::DoNotOptimize(load_image(d.h, d.fb, path->c_str()));
}

} // namespace

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawPath)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_StbiLoadAlone, png, &PNG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodePath, png_xbgr_copy, &PNG, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodePath, png_xrgb_convert, &PNG, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_StbiLoadAlone, jpeg, &JPG)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodePath, jpeg_xbgr_copy, &JPG, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodePath, jpeg_xrgb_convert, &JPG, false)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
