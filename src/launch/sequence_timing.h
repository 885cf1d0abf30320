// panelshow_sequence's settle and display times: read from their words, and the
// fixed extras around them.
#pragma once

#include "common/clock.h"

#include <cstdint>

enum class delay_outcome : uint8_t {
    ok,
    fallback, // read as 0: 999,999,999 ns is used
    negative, // no count of nanoseconds; the runner refuses it
};

struct delay_reading {
    delay_outcome outcome;
    timespan delay;
};

// Fixed timings: the lab's recorded exposures assume these values, so they are not
// options. The first entry's image program brings the display up from off, hence its
// own settle time and a longer extra; a text that reads as 0 waits just under 1 s.
inline constexpr uint64_t DELAY_FALLBACK_NSEC = 999999999;
inline constexpr timespan FIRST_SETTLE{1, 200000000};
inline constexpr uint64_t FIRST_EXTRA_NSEC = 124500000;
inline constexpr uint64_t LATER_EXTRA_NSEC = 24900000;
inline constexpr unsigned ENTRY_PAUSE_USEC = 10000; // between entries, so one child is gone before the next

delay_reading read_delay(const char* text);

// The waits of one entry: from its start until the panels are lit, and lit.
struct entry_timing {
    timespan settle;
    timespan lit;
};

// The first entry to be lit brings the display up from off and takes the first
// timing; an entry that is never lit (its image program failed) leaves that to
// the next. Every entry asks for its timing, then says whether it was lit.
struct sequence_timing {
    timespan settle;  // as given, for the later entries
    timespan display;
    bool lit_yet = false;
};

entry_timing next_entry_timing(const sequence_timing& t);
void entry_ended(sequence_timing& t, bool lit);

// The display time plus the extra time, nanoseconds carried into seconds, so the
// sleep is never shorter than the display time.
timespan lit_time(timespan display, uint64_t extra_nsec);
