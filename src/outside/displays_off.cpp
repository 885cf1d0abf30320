#include "outside/displays_off.h"

#include "display/drm_requests.h"

#include <array>
#include <sys/ioctl.h>

bool displays_off(const display_handle& h)
{
    std::array<uint32_t, 3> objs{h.connector_id, h.crtc_id, h.plane_id};
    std::array<uint32_t, 3> counts{1, 2, 2};
    std::array<uint32_t, 5> props{h.prop_id[PROP_CONNECTOR_CRTC_ID], h.prop_id[PROP_ACTIVE],
                                  h.prop_id[PROP_MODE_ID], h.prop_id[PROP_FB_ID],
                                  h.prop_id[PROP_PLANE_CRTC_ID]};
    std::array<uint64_t, 5> values{};
    drm_mode_atomic req{
        .flags = DRM_MODE_ATOMIC_ALLOW_MODESET,
        .count_objs = objs.size(),
        .objs_ptr = user_ptr(objs.data()),
        .count_props_ptr = user_ptr(counts.data()),
        .props_ptr = user_ptr(props.data()),
        .prop_values_ptr = user_ptr(values.data()),
    };
    return ioctl(h.fd, DRM_IOCTL_MODE_ATOMIC, &req) == 0;
}
