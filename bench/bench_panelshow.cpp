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
//
// Hostile files against a valid photograph of their format: panelshow from exec
// to its verdict (the picture shown, or the refusal and its exit), timed by the
// CPU time the child used (user and system, from wait4) with its peak memory.
// Cut, corrupt, padded and many-scan or many-chunk files are written at start-up.
#include "display/display.h"
#include "fake_drm.h"
#include "image/image_load.h"
#include "image_encoders.h"

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#include <zlib.h>

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

// Hostile files and the valid photographs of their formats, in /tmp/kdt-bench-*.
std::string bench_file(const std::string& name) { return "/tmp/kdt-bench-" + name; }

std::string be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

std::string png_chunk(const std::string& type, const std::string& data)
{
    const std::string c = type + data;
    return be32(uint32_t(data.size())) + c +
           be32(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(c.data()), uInt(c.size()))));
}

// Deflates `data` and then `surplus` zero bytes, one stream.
std::string deflated(const std::string& data, size_t surplus)
{
    z_stream z{};
    deflateInit(&z, 1);
    std::string out, buf(1 << 20, '\0');
    const std::string zeros(1 << 20, '\0');
    auto pump = [&](const std::string& in, int flush) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        z.avail_in = uInt(in.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(buf.data());
            z.avail_out = uInt(buf.size());
            deflate(&z, flush);
            out.append(buf.data(), buf.size() - z.avail_out);
        } while (z.avail_out == 0);
    };
    pump(data, Z_NO_FLUSH);
    for (size_t done = 0; done < surplus; done += zeros.size())
        pump(zeros, Z_NO_FLUSH);
    pump("", Z_FINISH);
    deflateEnd(&z);
    return out;
}

// 8-bit PNG of colour type 2 or 3 from packed samples; `before` goes ahead of the image data.
std::string png_of(const std::vector<uint8_t>& samples, int colour, const std::string& plte,
                   const std::string& before, size_t surplus)
{
    const size_t row = size_t(W) * (colour == 2 ? 3 : 1);
    std::string rows;
    for (int y = 0; y < H; ++y)
        rows += '\0' + std::string(samples.begin() + long(y * row), samples.begin() + long((y + 1) * row));
    const std::string ihdr = be32(W) + be32(H) + char(8) + char(colour) + std::string(3, '\0');
    return "\x89PNG\r\n\x1a\n" + png_chunk("IHDR", ihdr) + (plte.empty() ? "" : png_chunk("PLTE", plte)) +
           before + png_chunk("IDAT", deflated(rows, surplus)) + png_chunk("IEND", "");
}

void append_to(void* out, void* data, int n) { static_cast<std::string*>(out)->append(static_cast<char*>(data), size_t(n)); }

std::string be16(unsigned v) { return {char(v >> 8), char(v)}; }

// Photoshop, three 8-bit planes: raw, or PackBits rows of 128-pixel literal runs.
std::string psd_of(const std::vector<uint8_t>& px, bool packbits)
{
    std::string f = "8BPS" + be16(1) + std::string(6, '\0') + be16(3) + be32(H) + be32(W) + be16(8) +
                    be16(3) + be32(0) + be32(0) + be32(0) + be16(packbits);
    const int runs = (W + 127) / 128;
    for (int row = 0; packbits && row < 3 * H; ++row)
        f += be16(unsigned(W + runs));
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < W * H; ++i)
            f += (packbits && i % W % 128 == 0 ? std::string{char(std::min(127, W - i % W - 1))} : "") +
                 char(px[size_t(i) * 3 + c]);
    return f;
}

// The file up to the first scan's data.
size_t scan_start(const std::string& jpg)
{
    const size_t sos = jpg.find("\xFF\xDA");
    return sos + 2 + size_t(uint8_t(jpg[sos + 2])) * 256 + uint8_t(jpg[sos + 3]);
}

void make_hostile_files(const std::vector<uint8_t>& px)
{
    std::string f;
    auto written = [&](auto write) { f.clear(); write(); return f; };
    std::vector<float> light(px.begin(), px.end());
    for (float& v : light)
        v /= 64.0f;
    const std::string stb_files[][2] = {
        {"bmp", written([&] { stbi_write_bmp_to_func(append_to, &f, W, H, 3, px.data()); })},
        {"tga", written([&] { stbi_write_tga_with_rle = 0; stbi_write_tga_to_func(append_to, &f, W, H, 3, px.data()); })},
        {"rle.tga", written([&] { stbi_write_tga_with_rle = 1; stbi_write_tga_to_func(append_to, &f, W, H, 3, px.data()); })},
        {"hdr", written([&] { stbi_write_hdr_to_func(append_to, &f, W, H, 3, light.data()); })},
        {"psd", psd_of(px, false)},
        {"rle.psd", psd_of(px, true)},
        {"ppm", "P6\n4320 2160\n255\n" + std::string(px.begin(), px.end())},
    };
    const size_t header_only[] = {54, 18, 18, 0, 26 + 12 + 2, 26 + 12 + 2, 17};
    for (size_t i = 0; i < std::size(stb_files); ++i) {
        const auto& [ext, file] = stb_files[i];
        save(bench_file("photo." + ext), file);
        save(bench_file("cut-half." + ext), file.substr(0, file.size() / 2));
        const size_t header = ext == "hdr" ? file.find('\n', file.find("-Y")) + 1 : header_only[i];
        save(bench_file("header-only." + ext), file.substr(0, header));
    }
    save(bench_file("padded.bmp"), stb_files[0][1] + std::string(270u << 20, '\0'));

    const std::string jpg = encode_jpeg(px.data(), W, H, {.quality = 92});
    const size_t scan = scan_start(jpg);
    save(bench_file("half-scan-eoi.jpg"), jpg.substr(0, scan + (jpg.size() - scan) / 2) + "\xFF\xD9");
    save(bench_file("tables-only.jpg"), jpg.substr(0, scan) + "\xFF\xD9");
    save(bench_file("overwritten.jpg"), std::string(jpg).replace(scan + jpg.size() / 3, 64, 64, '\x55'));
    std::vector<uint8_t> grey(size_t(W) * H);
    for (size_t i = 0; i < grey.size(); ++i)
        grey[i] = px[i * 3 + 1];
    const jpeg_encoding grey_scans{.components = 1, .h_sampling = 1, .v_sampling = 1, .quality = 92};
    jpeg_encoding at_cap = grey_scans, beyond = grey_scans;
    at_cap.scans = 100;
    beyond.scans = 128;
    save(bench_file("100-scans.jpg"), encode_jpeg(grey.data(), W, H, at_cap));
    // The last scan again and again: 10,000 scans in all.
    std::string many = encode_jpeg(grey.data(), W, H, beyond);
    const size_t last = many.rfind("\xFF\xDA");
    const std::string repeat = many.substr(last, many.size() - 2 - last);
    many.resize(many.size() - 2);
    for (int i = 128; i < 10000; ++i)
        many += repeat;
    save(bench_file("10000-scans.jpg"), many + "\xFF\xD9");

    std::string plte;
    for (int i = 0; i < 40 * 3; ++i)
        plte += char(i * 5);
    save(bench_file("palette-beyond.png"), png_of(grey, 3, plte, "", 0));
    const std::string bomb = png_chunk("zTXt", "Comment" + std::string(2, '\0') + deflated("", 8000000));
    std::string bombs;
    for (int i = 0; i < 999; ++i)
        bombs += bomb;
    save(bench_file("999-ztxt.png"), png_of(px, 2, "", bombs, 0));
    save(bench_file("surplus-1g.png"), png_of(px, 2, "", "", size_t(1) << 30));
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
    make_hostile_files(px);
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

// exec of panelshow -v on the fake device until its verdict: "Image is now
// displayed", or its exit after a refusal. The time is the child's CPU time.
void BM_StartToVerdict(benchmark::State& state, const char* name)
{
    make_files();
    const std::string path = bench_file(name);
    long peak_kb = 0;
    bool shown = false;
    for (auto _ : state) {
        int out[2];
        if (pipe(out) != 0)
            state.SkipWithError("pipe");
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            setenv("LD_PRELOAD", KDT_FAKE_DRM_LIBRARY, 1);
            execl(KDT_PANELSHOW, KDT_PANELSHOW, path.c_str(), "-v", nullptr);
            _exit(127);
        }
        close(out[1]);
        std::string text;
        char buf[256];
        for (ssize_t n; text.find("Image is now displayed") == std::string::npos &&
                        (n = read(out[0], buf, sizeof buf)) > 0;)
            text.append(buf, size_t(n));
        shown = text.find("Image is now displayed") != std::string::npos;
        kill(pid, SIGKILL);
        rusage usage{};
        int status = 0;
        wait4(pid, &status, 0, &usage);
        close(out[0]);
        state.SetIterationTime(double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                               (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6);
        peak_kb = std::max(peak_kb, usage.ru_maxrss);
    }
    state.counters["shown"] = shown;
    state.counters["peak_MB"] = double(peak_kb) / 1024;
    state.counters["over_map_MiB"] = (double(peak_kb) * 1024 - double(W) * H * 4) / (1 << 20);
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

// Each format's valid photograph first, then its hostile files.
#define VERDICT(name) \
    BENCHMARK_CAPTURE(BM_StartToVerdict, name, #name)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3)

VERDICT(photo.jpg);
VERDICT(half-scan-eoi.jpg);
VERDICT(tables-only.jpg);
VERDICT(overwritten.jpg);
VERDICT(photo-progressive.jpg);
VERDICT(100-scans.jpg);
VERDICT(10000-scans.jpg);
VERDICT(photo.png);
VERDICT(palette-beyond.png);
VERDICT(999-ztxt.png);
VERDICT(surplus-1g.png);
VERDICT(photo.bmp);
VERDICT(header-only.bmp);
VERDICT(cut-half.bmp);
VERDICT(padded.bmp);
VERDICT(photo.tga);
VERDICT(header-only.tga);
VERDICT(cut-half.tga);
VERDICT(photo.rle.tga);
VERDICT(header-only.rle.tga);
VERDICT(cut-half.rle.tga);
VERDICT(photo.psd);
VERDICT(header-only.psd);
VERDICT(cut-half.psd);
VERDICT(photo.rle.psd);
VERDICT(header-only.rle.psd);
VERDICT(cut-half.rle.psd);
VERDICT(photo.ppm);
VERDICT(header-only.ppm);
VERDICT(cut-half.ppm);
VERDICT(photo.hdr);
VERDICT(header-only.hdr);
VERDICT(cut-half.hdr);

BENCHMARK_MAIN();
