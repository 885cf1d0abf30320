// The one framebuffer: dumb buffer -> map -> register -> commit -> wait.
#include "display/display.h"
#include "display/drm_requests.h"
#include "display/properties.h"
#include "display/refusal.h"
#include "common/clock.h"
#include "common/fatal.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Room for one read of events; the kernel queues at most this much per open file.
constexpr size_t EVENT_BUFFER = 4096;

// Walks one read's worth of events. True at the first flip-complete event; the
// rest of the bytes are dropped. A malformed length ends the walk.
bool holds_flip_complete(const unsigned char* buf, size_t n)
{
    size_t at = 0;
    while (n - at >= sizeof(drm_event)) {
        drm_event ev;
        __builtin_memcpy(&ev, buf + at, sizeof ev);
        if (ev.type == DRM_EVENT_FLIP_COMPLETE)
            return true;
        if (ev.length < sizeof ev || ev.length > n - at)
            break;
        at += ev.length;
    }
    return false;
}

// Reads the previous commit's flip-complete event before a new commit, waiting at
// most PENDING_FLIP_WAIT_MS. A commit sent while that flip is pending is refused
// with EBUSY, and events left unread fill the kernel's queue until commits fail.
void settle_pending_flip(display_handle& h)
{
    const int64_t deadline = now_ms() + PENDING_FLIP_WAIT_MS;
    std::array<unsigned char, EVENT_BUFFER> buf;
    for (;;) {
        const int64_t left = deadline - now_ms();
        if (left <= 0)
            break;
        pollfd pfd{.fd = h.fd, .events = POLLIN, .revents = 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left));
        // A stop signal only sets the flag the loop reads, so an interrupted wait goes on;
        // display_wait_flip (panelshow, which handles no signal) reports every failure.
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || !(pfd.revents & POLLIN))
            break;
        const ssize_t n = read(h.fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        if (holds_flip_complete(buf.data(), static_cast<size_t>(n)))
            break;
    }
    // Whatever happened, the commit goes ahead; its own retries handle a busy CRTC.
    h.flip_pending = false;
}

} // namespace

display_fb display_map_fb(display_handle& h)
{
    const char* fn = h.config->fb_function;
    display_fb fb{};

    drm_mode_create_dumb create{.height = MODE_HEIGHT, .width = MODE_WIDTH, .bpp = 32};
    DRM_REQUEST(h.fd, DRM_IOCTL_MODE_CREATE_DUMB, &create, fn);
    fb.handle = create.handle;
    fb.pitch = create.pitch;
    fb.size = create.size;

    drm_mode_map_dumb map{.handle = fb.handle};
    DRM_REQUEST(h.fd, DRM_IOCTL_MODE_MAP_DUMB, &map, fn);
    fb.map_offset = map.offset;

    void* mem = mmap(nullptr, fb.size, PROT_READ | PROT_WRITE, MAP_SHARED, h.fd,
                     static_cast<off_t>(fb.map_offset));
    FATAL_CHECK_WHY(mem != MAP_FAILED, fn, call_failed("mmap", errno));
    fb.map = mem;
    fb.width = MODE_WIDTH;
    fb.height = MODE_HEIGHT;
    return fb;
}

void display_register_fb(display_handle& h, display_fb& fb, uint32_t pixel_format)
{
    // Drivers without modifier support refuse the explicit linear modifier; ask first.
    drm_get_cap cap{.capability = DRM_CAP_ADDFB2_MODIFIERS, .value = 0};
    const bool modifiers = drm_ioctl(h.fd, DRM_IOCTL_GET_CAP, &cap) == 0 && cap.value != 0;

    drm_mode_fb_cmd2 cmd{
        .width = fb.width,
        .height = fb.height,
        .pixel_format = pixel_format,
        .flags = modifiers ? uint32_t{DRM_MODE_FB_MODIFIERS} : 0u,
        .handles = {fb.handle},
        .pitches = {fb.pitch},
    };
    DRM_REQUEST(h.fd, DRM_IOCTL_MODE_ADDFB2, &cmd, h.config->fb_function);
    fb.fb_id = cmd.fb_id;
}

display_fb display_create_fb(display_handle& h)
{
    display_fb fb = display_map_fb(h);
    display_register_fb(h, fb, FORMAT_XR24);
    return fb;
}

bool display_plane_has_format(const display_handle& h, uint32_t pixel_format)
{
    // Room for more formats than any plane lists (a few dozen at most), so one request does.
    std::array<uint32_t, 256> formats{};
    drm_mode_get_plane plane{.plane_id = h.plane_id,
                             .count_format_types = formats.size(),
                             .format_type_ptr = user_ptr(formats.data())};
    if (drm_ioctl(h.fd, DRM_IOCTL_MODE_GETPLANE, &plane) != 0 ||
        plane.count_format_types > formats.size())
        return false;
    for (uint32_t i = 0; i < plane.count_format_types; ++i)
        if (formats[i] == pixel_format)
            return true;
    return false;
}

void display_flip(display_handle& h, uint32_t fb_id)
{
    h.prop_value[PROP_FB_ID] = fb_id;
    h.prop_value[PROP_IN_FENCE_FD] = ~uint64_t{0}; // -1 as the kernel reads it: no fence to wait for

    if (h.flip_pending)
        settle_pending_flip(h);

    std::array<uint32_t, 3> objs{h.connector_id, h.crtc_id, h.plane_id};
    std::array<uint32_t, 3> counts = commit_counts(false);
    drm_mode_atomic req{
        .flags = COMMIT_FLAGS,
        .count_objs = objs.size(),
        .objs_ptr = user_ptr(objs.data()),
        .count_props_ptr = user_ptr(counts.data()),
        .props_ptr = user_ptr(h.prop_id),
        .prop_values_ptr = user_ptr(h.prop_value),
    };

    const int attempts = h.config->commit_attempts;
    int ret = drm_ioctl(h.fd, DRM_IOCTL_MODE_ATOMIC, &req);
    int error = ret ? errno : 0; // the last attempt's reason, before the pause and the report
    if (attempts > 1) {
        // The pause follows every attempt, a successful one too: the key loop's
        // redraw rate has always included it.
        usleep(1000);
        for (int attempt = 1; ret != 0 && attempt < attempts; ++attempt) {
            ret = drm_ioctl(h.fd, DRM_IOCTL_MODE_ATOMIC, &req);
            error = ret ? errno : 0;
            usleep(1000);
        }
        // "Tried" counts the retries after the first attempt, as operators' logs always have.
        if (ret != 0)
            std::printf("Tried %d times to update display... ret = 0x%x\n", attempts - 1,
                        static_cast<unsigned>(ret));
    }
    FATAL_CHECK_WHY(!ret, "display_flip", request_failed(h.fd, "DRM_IOCTL_MODE_ATOMIC", error));
    h.flip_pending = true;
}

bool displays_off(const display_handle& h)
{
    std::array<uint32_t, 3> objs{h.connector_id, h.crtc_id, h.plane_id};
    std::array<uint32_t, 3> counts = commit_counts(true);
    std::array<uint32_t, PROP_MAX> props{};
    std::array<uint64_t, PROP_MAX> values{};
    uint32_t n = 0;
    for (const prop_slot& p : PROP_TABLE)
        if (p.switched_off)
            props[n++] = h.prop_id[p.index];
    drm_mode_atomic req{
        .flags = DRM_MODE_ATOMIC_ALLOW_MODESET,
        .count_objs = objs.size(),
        .objs_ptr = user_ptr(objs.data()),
        .count_props_ptr = user_ptr(counts.data()),
        .props_ptr = user_ptr(props.data()),
        .prop_values_ptr = user_ptr(values.data()),
    };
    return drm_ioctl(h.fd, DRM_IOCTL_MODE_ATOMIC, &req) == 0;
}

int32_t display_wait_flip(display_handle& h)
{
    std::array<unsigned char, EVENT_BUFFER> buf;
    for (;;) {
        pollfd pfd{.fd = h.fd, .events = POLLIN, .revents = 0};
        const int ready = poll(&pfd, 1, -1);
        if (ready < 0) {
            std::fflush(stdout); // our earlier lines come first in a shared log
            perror("poll");
            return -1;
        }
        // Without POLLIN, an error or hang-up of the device comes back at once on
        // every poll: no event will ever come, so the wait has failed.
        if (!(pfd.revents & POLLIN)) {
            std::fflush(stdout);
            std::fprintf(stderr, "poll: the device reported %s\n",
                         pfd.revents & POLLHUP ? "a hang-up" : "an error");
            return -1;
        }
        const ssize_t n = read(h.fd, buf.data(), buf.size());
        if (n < 0) {
            std::fflush(stdout);
            perror("read drm event");
            return -1;
        }
        if (holds_flip_complete(buf.data(), static_cast<size_t>(n))) {
            h.flip_pending = false;
            return 0;
        }
    }
}
