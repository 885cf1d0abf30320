// The properties the core sets: one table, in the order the atomic commit sends
// them, from which the per-object counts, the start-up values and the
// displays-off request are all derived.
#pragma once

#include "display/display.h"
#include "display/drm_requests.h"

#include <array>
#include <cstdint>
#include <string_view>

// What a slot holds once display_init is done.
enum class prop_start : uint8_t {
    crtc,          // the CRTC driving the connector
    mode_blob,     // the mode, as a property blob
    on,            // 1
    zero,          // 0
    mode_width,    // in pixels
    mode_height,
    mode_width_fixed,  // in 16.16 fixed point (plane source rectangle)
    mode_height_fixed,
    set_by_flip,   // written by display_flip before every commit
};

struct prop_slot {
    prop_index index;
    uint32_t object_type;
    std::string_view name;
    prop_start start;
    bool switched_off; // sent as 0 by the displays-off commit
};

inline constexpr std::array<prop_slot, PROP_MAX> PROP_TABLE{{
    {PROP_CONNECTOR_CRTC_ID, DRM_MODE_OBJECT_CONNECTOR, "CRTC_ID", prop_start::crtc, true},
    {PROP_MODE_ID, DRM_MODE_OBJECT_CRTC, "MODE_ID", prop_start::mode_blob, true},
    {PROP_ACTIVE, DRM_MODE_OBJECT_CRTC, "ACTIVE", prop_start::on, true},
    {PROP_FB_ID, DRM_MODE_OBJECT_PLANE, "FB_ID", prop_start::set_by_flip, true},
    {PROP_IN_FENCE_FD, DRM_MODE_OBJECT_PLANE, "IN_FENCE_FD", prop_start::set_by_flip, false},
    {PROP_PLANE_CRTC_ID, DRM_MODE_OBJECT_PLANE, "CRTC_ID", prop_start::crtc, true},
    {PROP_CRTC_X, DRM_MODE_OBJECT_PLANE, "CRTC_X", prop_start::zero, false},
    {PROP_CRTC_Y, DRM_MODE_OBJECT_PLANE, "CRTC_Y", prop_start::zero, false},
    {PROP_CRTC_W, DRM_MODE_OBJECT_PLANE, "CRTC_W", prop_start::mode_width, false},
    {PROP_CRTC_H, DRM_MODE_OBJECT_PLANE, "CRTC_H", prop_start::mode_height, false},
    {PROP_SRC_X, DRM_MODE_OBJECT_PLANE, "SRC_X", prop_start::zero, false},
    {PROP_SRC_Y, DRM_MODE_OBJECT_PLANE, "SRC_Y", prop_start::zero, false},
    {PROP_SRC_W, DRM_MODE_OBJECT_PLANE, "SRC_W", prop_start::mode_width_fixed, false},
    {PROP_SRC_H, DRM_MODE_OBJECT_PLANE, "SRC_H", prop_start::mode_height_fixed, false},
}};

// The commit's objects, in the order it names them.
inline constexpr std::array<uint32_t, 3> COMMIT_OBJECT_TYPES{
    DRM_MODE_OBJECT_CONNECTOR, DRM_MODE_OBJECT_CRTC, DRM_MODE_OBJECT_PLANE};

// How many slots of the table an object owns (only those switched off, if asked).
constexpr uint32_t props_of(uint32_t object_type, bool switched_off_only = false)
{
    uint32_t n = 0;
    for (const prop_slot& p : PROP_TABLE)
        n += p.object_type == object_type && (p.switched_off || !switched_off_only);
    return n;
}

constexpr std::array<uint32_t, 3> commit_counts(bool switched_off_only)
{
    std::array<uint32_t, 3> counts{};
    for (size_t o = 0; o < counts.size(); ++o)
        counts[o] = props_of(COMMIT_OBJECT_TYPES[o], switched_off_only);
    return counts;
}

// The kernel reads prop_id / prop_value as one run per object, objects in commit
// order: the table must list each object's slots together, in that order, and
// slot i must be index i.
constexpr bool table_in_commit_order()
{
    size_t object = 0;
    for (size_t i = 0; i < PROP_TABLE.size(); ++i) {
        if (PROP_TABLE[i].index != static_cast<prop_index>(i))
            return false;
        while (object < COMMIT_OBJECT_TYPES.size() &&
               PROP_TABLE[i].object_type != COMMIT_OBJECT_TYPES[object])
            ++object;
        if (object == COMMIT_OBJECT_TYPES.size())
            return false;
    }
    return true;
}
static_assert(table_in_commit_order());
