#include "launch/sequence_timing.h"

#include "common/decimal.h"

delay_reading read_delay(const char* text)
{
    const int64_t value = decimal_i64(text);
    if (value == 0)
        return {delay_outcome::fallback, {0, DELAY_FALLBACK_NSEC}};
    if (value < 0)
        return {delay_outcome::negative, {0, 0}};
    const auto ns = static_cast<uint64_t>(value);
    return {delay_outcome::ok, timespan_from_ns(ns)};
}

timespan lit_time(timespan display, uint64_t extra_nsec)
{
    const uint64_t nsec = display.nsec + extra_nsec;
    return {display.sec + nsec / NSEC_PER_SEC, nsec % NSEC_PER_SEC};
}

entry_timing next_entry_timing(const sequence_timing& t)
{
    if (!t.lit_yet)
        return {FIRST_SETTLE, lit_time(t.display, FIRST_EXTRA_NSEC)};
    return {t.settle, lit_time(t.display, LATER_EXTRA_NSEC)};
}

void entry_ended(sequence_timing& t, bool lit)
{
    t.lit_yet = t.lit_yet || lit;
}
