// Display core: one full-screen plane, one CPU-drawn dumb buffer, atomic commits.
//
// Order per process: display_init -> display_create_fb (or display_map_fb, content,
// display_register_fb) -> draw -> display_flip -> (display_wait_flip).
// Every failing step ends the process through FATAL_CHECK; nothing is released
// explicitly, the kernel does that at exit.
#pragma once

#include <cstddef>
#include <cstdint>

// Property slots in the order the atomic commit sends them: connector (1), CRTC (2),
// plane (11). prop_id / prop_value are handed to the kernel as they stand.
enum prop_index : int {
    PROP_CONNECTOR_CRTC_ID,
    PROP_MODE_ID,
    PROP_ACTIVE,
    PROP_FB_ID,
    PROP_IN_FENCE_FD,
    PROP_PLANE_CRTC_ID,
    PROP_CRTC_X,
    PROP_CRTC_Y,
    PROP_CRTC_W,
    PROP_CRTC_H,
    PROP_SRC_X,
    PROP_SRC_Y,
    PROP_SRC_W,
    PROP_SRC_H,
    PROP_MAX
};

// How the mode is found.
enum class mode_search : uint8_t {
    by_index, // entry mode_sel of the first connector's list
    by_size,  // first 4320 x 2160 mode over all connectors, in list order
};

// The per-program choices of the core.
struct display_config {
    mode_search search;
    bool print_modes;        // "  Available modes:" list before the "Targeting" line
    bool print_target;       // the "Targeting mode[...]" line
    int commit_attempts;     // 1: fatal at once; 11: retry with 1000 us pauses
    const char* fb_function; // function named in framebuffer diagnostics
    uint16_t search_width = 0;  // the mode size the by_size search looks for
    uint16_t search_height = 0;
};

inline constexpr display_config PANELSHOW_DISPLAY{mode_search::by_index, false, true, 1,
                                                  "display_create_fb"};
inline constexpr display_config PANELCOLOR_DISPLAY{mode_search::by_index, true, true, 11,
                                                   "main"};
// No mode list, no "Targeting" line; a failed set-up step is fatal (status 1).
inline constexpr display_config LIGHTSOUT_DISPLAY{mode_search::by_index, false, false, 1, "main"};
// paneldefect: the first 4320 x 2160 mode over all connectors, no mode list or
// "Targeting" line, commits retried.
inline constexpr display_config PANELDEFECT_DISPLAY{mode_search::by_size, false, false, 11, "main",
                                                    4320, 2160};

struct display_handle {
    int32_t fd;
    uint32_t connector_id;
    uint32_t encoder_id;
    uint32_t crtc_id;
    uint32_t plane_id;
    uint32_t prop_id[PROP_MAX];
    uint64_t prop_value[PROP_MAX];
    // Set by display_init; not part of what the kernel sees.
    const display_config* config;
    bool flip_pending; // a commit's flip-complete event has not been read yet
};

struct display_fb {
    uint32_t fb_id;
    uint32_t handle;
    uint32_t pitch;
    uint64_t size;
    uint64_t map_offset;
    void* map;
    uint16_t width; // the mode's size, which the buffer was made for
    uint16_t height;
};

// Size of the mode in use; zero until display_init chooses a mode.
extern uint16_t MODE_WIDTH;
extern uint16_t MODE_HEIGHT;

// Four-character codes of the two pixel formats we register.
inline constexpr uint32_t FORMAT_XR24 = 0x34325258; // bytes: blue, green, red, X
inline constexpr uint32_t FORMAT_XB24 = 0x34324258; // bytes: red, green, blue, X

inline constexpr const char DRM_DEVICE_PATH[] = "/dev/dri/card0";

// Opens the device and fills the handle (zero-filled by the caller). mode_sel is
// used by the by_index search only.
void display_init(display_handle& h, const display_config& config, uint8_t mode_sel = 0);

// Creates, maps and registers an XR24 buffer of MODE_WIDTH x MODE_HEIGHT.
display_fb display_create_fb(display_handle& h);

// The two halves of display_create_fb, for a caller that writes the buffer's first
// content and chooses its format in between (panelshow).
display_fb display_map_fb(display_handle& h);
void display_register_fb(display_handle& h, display_fb& fb, uint32_t pixel_format);

// Whether the chosen plane lists the format; false when the kernel will not say.
bool display_plane_has_format(const display_handle& h, uint32_t pixel_format);

// Commits the whole state with fb_id on the plane.
void display_flip(display_handle& h, uint32_t fb_id);

// One blocking commit with modesetting allowed that takes the panels down: the
// connector and plane detached, the CRTC inactive without a mode, no framebuffer.
// False when the kernel refuses it (errno says why).
bool displays_off(const display_handle& h);

// 0 once a flip-complete event has been read, -1 when waiting failed ("poll" or
// "read drm event" on stderr).
int32_t display_wait_flip(display_handle& h);

// Longest wait for the previous flip before a new commit, in milliseconds.
inline constexpr int PENDING_FLIP_WAIT_MS = 1000;
