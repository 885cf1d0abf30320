// Stand-in for the device's lightsout: backlight off, then one atomic commit that
// switches the CRTC off and detaches plane and connector, so the panels go dark.
#include "common/backlight.h"
#include "display/display.h"
#include "display/drm_requests.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>

namespace {

// No mode list, no "Targeting" line; a failed step is fatal (status 1).
constexpr display_config LIGHTSOUT_DISPLAY{mode_search::by_index, false, false, 1, "main"};

template <typename T>
uint64_t user_ptr(T* p)
{
    return reinterpret_cast<uintptr_t>(p);
}

} // namespace

int main()
{
    backlight_set(0);

    display_handle h{};
    display_init(h, LIGHTSOUT_DISPLAY);

    // Per object, in order: connector CRTC_ID; CRTC ACTIVE, MODE_ID; plane FB_ID, CRTC_ID.
    std::array<uint32_t, 3> objs{h.connector_id, h.crtc_id, h.plane_id};
    std::array<uint32_t, 3> counts{1, 2, 2};
    std::array<uint32_t, 5> props{h.prop_id[PROP_CONNECTOR_CRTC_ID], h.prop_id[PROP_ACTIVE],
                                  h.prop_id[PROP_MODE_ID], h.prop_id[PROP_FB_ID],
                                  h.prop_id[PROP_PLANE_CRTC_ID]};
    std::array<uint64_t, 5> values{0, 0, 0, 0, 0};
    drm_mode_atomic req{
        .flags = DRM_MODE_ATOMIC_ALLOW_MODESET,
        .count_objs = objs.size(),
        .objs_ptr = user_ptr(objs.data()),
        .count_props_ptr = user_ptr(counts.data()),
        .props_ptr = user_ptr(props.data()),
        .prop_values_ptr = user_ptr(values.data()),
    };
    if (ioctl(h.fd, DRM_IOCTL_MODE_ATOMIC, &req) != 0) {
        std::printf("lightsout: could not switch the displays off: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}
