// Key-to-commit time of panelcolor and paneldefect on the fake device: one key
// from the poll through the model change, the status lines, the full fill and
// the commit, against the fill alone and the commit alone, measured side by side.
//
// A commit includes the fixed 1000 us pause after every attempt, so the pause is
// measured too (timer slack set to 1 ns so it is what it says):
//   key-to-commit beyond the fill = KeyAndStatus + (Commit - Pause)   (goal: < 0.1 ms)
// and as a whole KeyToCommit against FillAndCommit (the fill dominates and, on a
// shared machine, varies by more than the key's share).
#include "cli/paneldefect_args.h"
#include "keys/paneldefect_keys.h"
#include "cli/panelcolor_args.h"
#include "keys/panelcolor_keys.h"
#include "colour/colour.h"
#include "colour/defect.h"
#include "common/console.h"
#include "display/display.h"
#include "fake_drm.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// The fake device in this process, the framebuffer mapped, keys arriving on a
// pipe in place of the terminal, status lines going nowhere.
struct bench_display {
    display_handle h{};
    display_fb fb{};
    int key_fd = -1;
    FILE* out = nullptr;

    explicit bench_display(const display_config& config)
    {
        prctl(PR_SET_TIMERSLACK, 1UL);
        fake_drm_reset(fake_default_device());
        out = std::fopen("/dev/null", "w");
        std::FILE* saved = stdout;
        stdout = out;
        display_init(h, config, 0);
        stdout = saved;
        fb = display_create_fb(h);
        std::memset(fb.map, 0, fb.size);
        int fds[2];
        if (pipe(fds) == 0) {
            dup2(fds[0], 0);
            close(fds[0]);
            key_fd = fds[1];
        }
    }

    void type(char key)
    {
        (void)!write(key_fd, &key, 1);
    }

    uint32_t* map() const { return static_cast<uint32_t*>(fb.map); }
};

bench_display& panelcolor_display()
{
    static bench_display d(PANELCOLOR_DISPLAY);
    return d;
}

bench_display& paneldefect_display()
{
    static bench_display d(PANELDEFECT_DISPLAY);
    return d;
}

void BM_Pause(benchmark::State& state)
{
    prctl(PR_SET_TIMERSLACK, 1UL);
    for (auto _ : state)
        usleep(1000);
}

void BM_Commit(benchmark::State& state)
{
    bench_display& d = panelcolor_display();
    for (auto _ : state)
        display_flip(d.h, d.fb.fb_id);
}

void BM_PanelcolorFill(benchmark::State& state)
{
    bench_display& d = panelcolor_display();
    const pattern_state pattern{{255, 0, 0, 7}, {0, 0, 255, 7}, true, true};
    for (auto _ : state) {
        fill_pattern(d.map(), d.fb.pitch, MODE_WIDTH, MODE_HEIGHT, pattern);
        benchmark::ClobberMemory();
    }
}

// The redraw without the key: fill and commit.
void BM_PanelcolorFillAndCommit(benchmark::State& state)
{
    bench_display& d = panelcolor_display();
    const pattern_state pattern{{255, 0, 0, 7}, {0, 0, 255, 7}, true, true};
    for (auto _ : state) {
        fill_pattern(d.map(), d.fb.pitch, MODE_WIDTH, MODE_HEIGHT, pattern);
        display_flip(d.h, d.fb.fb_id);
    }
}

// What a key adds before the fill: the poll, the model change, the status lines.
void BM_PanelcolorKeyAndStatus(benchmark::State& state)
{
    bench_display& d = panelcolor_display();
    pattern_state pattern{{0, 0, 0, 7}, {0, 0, 255, 7}, true, true};
    int n = 0;
    for (auto _ : state) {
        d.type("qa"[n++ % 2]);
        if (!key_available())
            state.SkipWithError("no key");
        if (panelcolor_key(pattern, getc(stdin), "panelcolor", d.out) == key_result::redraw)
            print_panelcolor_status(d.out, pattern);
    }
}

// One change pass of panelcolor's loop, without its closing 1 ms sleep.
void BM_PanelcolorKeyToCommit(benchmark::State& state)
{
    bench_display& d = panelcolor_display();
    pattern_state pattern{{0, 0, 0, 7}, {0, 0, 255, 7}, true, true};
    int n = 0;
    for (auto _ : state) {
        d.type("qa"[n++ % 2]); // a pipe write of a few us, cheaper than pausing the timer
        if (!key_available())
            state.SkipWithError("no key");
        const key_result r = panelcolor_key(pattern, getc(stdin), "panelcolor", d.out);
        if (r == key_result::redraw) {
            print_panelcolor_status(d.out, pattern);
            fill_pattern(d.map(), d.fb.pitch, MODE_WIDTH, MODE_HEIGHT, pattern);
            std::fputs("updating display\n", d.out);
            display_flip(d.h, d.fb.fb_id);
        }
    }
}

void BM_DefectFill(benchmark::State& state)
{
    bench_display& d = paneldefect_display();
    for (auto _ : state) {
        defect_fill(d.map(), d.fb.pitch, PRESET_BRIGHT_DEFECT);
        benchmark::ClobberMemory();
    }
}

// One change pass of paneldefect's loop, without its closing 1 ms sleep.
void BM_PaneldefectKeyToCommit(benchmark::State& state)
{
    bench_display& d = paneldefect_display();
    defect_session session = start_defect_session(PRESET_BRIGHT_DEFECT);
    int n = 0;
    for (auto _ : state) {
        d.type("qa"[n++ % 2]); // a pipe write of a few us, cheaper than pausing the timer
        if (!key_available())
            state.SkipWithError("no key");
        const key_result r = paneldefect_key(session, getc(stdin), "paneldefect", d.out);
        if (r == key_result::redraw) {
            store_working_colour(session);
            print_defect_status(d.out, session.colours);
            defect_fill(d.map(), d.fb.pitch, session.colours);
            display_flip(d.h, d.fb.fb_id);
            load_working_colour(session);
        }
    }
}

} // namespace

BENCHMARK(BM_Pause)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Commit)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PanelcolorFill)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PanelcolorFillAndCommit)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PanelcolorKeyAndStatus)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PanelcolorKeyToCommit)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_DefectFill)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PaneldefectKeyToCommit)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
