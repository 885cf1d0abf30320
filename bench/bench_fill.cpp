// Frame fills against memset of the same 4320 x 2160 frame: the fills should
// cost no more than about 1.1 times memset. Run with
// --benchmark_repetitions and compare the medians side by side.
#include "colour/colour.h"
#include "colour/defect.h"

#include <benchmark/benchmark.h>

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

} // namespace

BENCHMARK(BM_Memset);
BENCHMARK(BM_FillPattern)->ArgName("right_enabled")->Arg(1)->Arg(0);
BENCHMARK(BM_DefectFill);

BENCHMARK_MAIN();
