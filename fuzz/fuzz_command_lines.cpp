// Every program's command line, as the pure functions read it, and what follows
// from it: panelcolor's and paneldefect's keys, panelshow_timed's countdown,
// panelshow_sequence's delays.
//
// Input: one byte that picks the program, then the words, each ended by a zero
// byte (a last word without one counts too). For the interactive programs the
// last word is also typed, byte by byte, as keys.
#include "cli/panelcolor_args.h"
#include "keys/panelcolor_keys.h"
#include "cli/paneldefect_args.h"
#include "keys/paneldefect_keys.h"
#include "cli/panelshow_args.h"
#include "cli/sequence_args.h"
#include "cli/timed_args.h"
#include "launch/countdown.h"
#include "launch/sequence_timing.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr size_t MAX_WORDS = 24;
FILE* sink = nullptr;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

void panelshow(int argc, const char* const* argv)
{
    const panelshow_args a = parse_panelshow_args(argc, argv);
    check(a.outcome != args_outcome::run || (argc >= 2 && a.image_path == argv[1]),
          "panelshow runs with the first word as image");
}

void check_mask(const col_color& c)
{
    check(c.change_mask <= 0x7, "change masks keep three bits");
}

void panelcolor(int argc, const char* const* argv)
{
    const panelcolor_args a = parse_panelcolor_args(argc, argv);
    if (a.outcome != args_outcome::run)
        return;
    pattern_state s = a.pattern;
    check_mask(s.even);
    check_mask(s.odd);
    print_panelcolor_status(sink, s);
    for (const char* k = argc > 1 ? argv[argc - 1] : ""; *k; ++k) {
        const uint8_t even_mask = s.even.change_mask;
        const uint8_t odd_mask = s.odd.change_mask;
        panelcolor_key(s, static_cast<unsigned char>(*k), argv[0], sink);
        const bool swapped = *k == ' ';
        check((swapped ? s.odd.change_mask : s.even.change_mask) == even_mask &&
                  (swapped ? s.even.change_mask : s.odd.change_mask) == odd_mask,
              "keys never change a mask, only swap it with the colour");
    }
    print_panelcolor_status(sink, s);
}

void paneldefect(int argc, const char* const* argv)
{
    const paneldefect_args a = parse_paneldefect_args(argc, argv);
    if (a.outcome != args_outcome::run)
        return;
    defect_session s = start_defect_session(a.colours);
    for (const char* k = argc > 1 ? argv[argc - 1] : ""; *k; ++k) {
        if (paneldefect_key(s, static_cast<unsigned char>(*k), argv[0], sink) ==
            key_result::redraw)
            store_working_colour(s);
        check(s.working.change_mask == 0x7, "the working colour is never locked");
    }
    print_defect_status(sink, s.colours);
}

void timed(int argc, const char* const* argv)
{
    const timed_args a = parse_timed_args(argc, argv, sink);
    if (a.outcome != args_outcome::run)
        return;
    check(a.brightness <= 100, "brightness is capped at 100");
    timespan c = timespan_from_ns(a.display_ns);
    check(c.nsec < NSEC_PER_SEC, "countdown nanoseconds below one second");
    // Count the ticks of a short time: those of its nanoseconds, then 99 a second.
    if (c.sec < 3) {
        const uint64_t expected = c.nsec / TICK_NSEC + c.sec * 99;
        uint64_t ticks = 0;
        while (countdown_tick(c))
            ++ticks;
        check(ticks == expected, "99 ticks a second after those of the nanoseconds");
    }
}

void sequence(int argc, const char* const* argv)
{
    const sequence_args a = parse_sequence_args(argc, argv);
    if (a.outcome != args_outcome::run)
        return;
    for (const char* text : {a.settle_text, a.display_text}) {
        const delay_reading d = read_delay(text);
        check(d.delay.nsec < 1000000000, "delay nanoseconds below one second");
        if (d.outcome == delay_outcome::negative)
            continue;
        for (uint64_t extra : {FIRST_EXTRA_NSEC, LATER_EXTRA_NSEC}) {
            const timespan lit = lit_time(d.delay, extra);
            check(lit.nsec < 1000000000 && lit.sec >= d.delay.sec, "lit time carries seconds");
            const timespec ts = to_timespec(lit);
            check(ts.tv_nsec >= 0 && ts.tv_nsec < 1000000000, "timespec nanoseconds in range");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    sink = std::fopen("/dev/null", "w");
    // The usage lines of panelshow and the launchers go to standard output.
    if (!sink || std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return -1;
    std::vector<std::string> words{"prog"};
    std::string word;
    for (size_t i = 1; i < size && words.size() < MAX_WORDS; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word.push_back(static_cast<char>(data[i]));
        }
    }
    if (!word.empty() && words.size() < MAX_WORDS)
        words.push_back(word);
    std::vector<const char*> argv;
    for (const std::string& w : words)
        argv.push_back(w.c_str());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    switch (data[0] % 5) {
    case 0: panelshow(argc, argv.data()); break;
    case 1: panelcolor(argc, argv.data()); break;
    case 2: paneldefect(argc, argv.data()); break;
    case 3: timed(argc, argv.data()); break;
    case 4: sequence(argc, argv.data()); break;
    }
    return 0;
}
