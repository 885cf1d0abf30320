// Frame fills against memset of the same 4320 x 2160 frame: the fills should
// cost no more than about 1.1 times memset. Run with
// --benchmark_repetitions and compare the medians side by side.
#include "colour/colour.h"
#include "colour/defect.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr uint16_t WIDTH = 4320;
constexpr uint16_t HEIGHT = 2160;
constexpr uint32_t PITCH = WIDTH * 4;
constexpr size_t FRAME_BYTES = size_t{PITCH} * HEIGHT; // 37,324,800

// One frame for every benchmark, allocated and touched once so that no run pays
// for page faults.
uint32_t* frame()
{
    static std::vector<uint32_t> buffer = [] {
        std::vector<uint32_t> b(FRAME_BYTES / 4);
        std::memset(b.data(), 0x5A, FRAME_BYTES);
        return b;
    }();
    return buffer.data();
}

void set_bytes(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FRAME_BYTES);
}

void BM_Memset(benchmark::State& state)
{
    uint32_t* map = frame();
    for (auto _ : state) {
        std::memset(map, 0x7F, FRAME_BYTES);
        benchmark::ClobberMemory();
    }
    set_bytes(state);
}

void BM_FillPattern(benchmark::State& state)
{
    uint32_t* map = frame();
    // Both halves shown but different enables are measured too: the split row is
    // the slower shape.
    const pattern_state pattern{.even = {255, 0, 0, 7},
                                .odd = {0, 0, 255, 7},
                                .left_enabled = true,
                                .right_enabled = state.range(0) != 0};
    for (auto _ : state) {
        fill_pattern(map, PITCH, WIDTH, HEIGHT, pattern);
        benchmark::ClobberMemory();
    }
    set_bytes(state);
}

void BM_DefectFill(benchmark::State& state)
{
    uint32_t* map = frame();
    for (auto _ : state) {
        defect_fill(map, PITCH, PRESET_DARK_DEFECT);
        benchmark::ClobberMemory();
    }
    set_bytes(state);
}

// All in turn in every iteration, so that each ratio is taken under the same
// load on a shared machine. Each is timed on its second pass over the frame:
// what one writer leaves in the caches changes the next writer's time by a
// third, and the programs always refill after their own fill. Counters: ns per
// frame and ratios to memset; "split" is one half blanked, two spans a row.
void BM_SideBySide(benchmark::State& state)
{
    uint32_t* map = frame();
    pattern_state pattern{.even = {255, 0, 0, 7},
                          .odd = {0, 0, 255, 7},
                          .left_enabled = true,
                          .right_enabled = true};
    pattern_state split = pattern;
    split.right_enabled = false;
    using clock = std::chrono::steady_clock;
    const auto timed_second_pass = [](const auto& fill) {
        fill();
        benchmark::ClobberMemory();
        const auto start = clock::now();
        fill();
        benchmark::ClobberMemory();
        return clock::now() - start;
    };
    clock::duration memset_time{}, pattern_time{}, split_time{}, defect_time{};
    for (auto _ : state) {
        memset_time += timed_second_pass([&] { std::memset(map, 0x7F, FRAME_BYTES); });
        pattern_time += timed_second_pass([&] { fill_pattern(map, PITCH, WIDTH, HEIGHT, pattern); });
        split_time += timed_second_pass([&] { fill_pattern(map, PITCH, WIDTH, HEIGHT, split); });
        defect_time += timed_second_pass([&] { defect_fill(map, PITCH, PRESET_DARK_DEFECT); });
    }
    const auto per_frame = [&](clock::duration d) {
        return static_cast<double>(std::chrono::nanoseconds(d).count()) /
               static_cast<double>(state.iterations());
    };
    const double memset_ns = per_frame(memset_time);
    state.counters["memset_ns"] = memset_ns;
    state.counters["pattern_ns"] = per_frame(pattern_time);
    state.counters["split_ns"] = per_frame(split_time);
    state.counters["defect_ns"] = per_frame(defect_time);
    state.counters["pattern_ratio"] = per_frame(pattern_time) / memset_ns;
    state.counters["split_ratio"] = per_frame(split_time) / memset_ns;
    state.counters["defect_ratio"] = per_frame(defect_time) / memset_ns;
}

} // namespace

BENCHMARK(BM_Memset);
BENCHMARK(BM_FillPattern)->ArgName("right_enabled")->Arg(1)->Arg(0);
BENCHMARK(BM_DefectFill);
BENCHMARK(BM_SideBySide);

BENCHMARK_MAIN();
