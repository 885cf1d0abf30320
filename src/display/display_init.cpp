// Device and mode set-up: open -> capabilities -> resources -> connector and mode
// -> encoder -> CRTC -> plane -> properties -> mode blob.
#include "display/display.h"
#include "display/drm_requests.h"
#include "display/properties.h"
#include "common/fatal.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <vector>
#include <sys/ioctl.h>

uint16_t MODE_WIDTH = 0;
uint16_t MODE_HEIGHT = 0;

namespace {

constexpr const char* FN = "display_init";


// Every list is fetched in two steps: ask for its length, then for exactly that
// many entries. The kernel copies nothing into a list whose room is too small
// (connectors) or only part of it (resources), so a fixed room loses entries on a
// connector with many modes.

struct card_lists {
    std::vector<uint32_t> crtcs;
    std::vector<uint32_t> connectors;
};

card_lists read_resources(int fd)
{
    drm_mode_card_res res{};
    int ret = ioctl(fd, DRM_IOCTL_MODE_GETRESOURCES, &res);
    FATAL_CHECK(!ret, FN);
    card_lists l;
    // A connector that appears between the two calls makes the counts grow: ask again.
    while (l.crtcs.size() < res.count_crtcs || l.connectors.size() < res.count_connectors) {
        l.crtcs.resize(res.count_crtcs);
        l.connectors.resize(res.count_connectors);
        res = drm_mode_card_res{
            .crtc_id_ptr = user_ptr(l.crtcs.data()),
            .connector_id_ptr = user_ptr(l.connectors.data()),
            .count_crtcs = static_cast<uint32_t>(l.crtcs.size()),
            .count_connectors = static_cast<uint32_t>(l.connectors.size()),
        };
        ret = ioctl(fd, DRM_IOCTL_MODE_GETRESOURCES, &res);
        FATAL_CHECK(!ret, FN);
    }
    l.crtcs.resize(res.count_crtcs);
    l.connectors.resize(res.count_connectors);
    return l;
}

std::vector<uint32_t> read_planes(int fd)
{
    drm_mode_get_plane_res plane_res{};
    int ret = ioctl(fd, DRM_IOCTL_MODE_GETPLANERESOURCES, &plane_res);
    FATAL_CHECK(!ret && plane_res.count_planes >= 1, FN);
    std::vector<uint32_t> planes;
    while (planes.size() < plane_res.count_planes) {
        planes.resize(plane_res.count_planes);
        plane_res = {.plane_id_ptr = user_ptr(planes.data()),
                     .count_planes = static_cast<uint32_t>(planes.size())};
        ret = ioctl(fd, DRM_IOCTL_MODE_GETPLANERESOURCES, &plane_res);
        FATAL_CHECK(!ret && plane_res.count_planes >= 1, FN);
    }
    planes.resize(plane_res.count_planes);
    return planes;
}

struct connector_modes {
    drm_mode_get_connector conn;
    std::vector<uint32_t> encoders;
    std::vector<drm_mode_modeinfo> modes;
    uint32_t mode_count; // modes.size(), under the name the diagnostics use
};

// Reads one connector: a probe with every count zero (which also makes the kernel
// probe the outputs), then with room for exactly the reported lists.
void read_connector(int fd, uint32_t connector_id, connector_modes& c)
{
    c.conn = drm_mode_get_connector{.connector_id = connector_id};
    int ret = ioctl(fd, DRM_IOCTL_MODE_GETCONNECTOR, &c.conn);
    FATAL_CHECK(!ret, FN);

    c.encoders.clear();
    c.modes.clear();
    while (c.encoders.size() < c.conn.count_encoders || c.modes.size() < c.conn.count_modes) {
        c.encoders.resize(c.conn.count_encoders);
        c.modes.resize(c.conn.count_modes);
        c.conn = drm_mode_get_connector{
            .encoders_ptr = user_ptr(c.encoders.data()),
            .modes_ptr = user_ptr(c.modes.data()),
            .count_modes = static_cast<uint32_t>(c.modes.size()),
            .count_encoders = static_cast<uint32_t>(c.encoders.size()),
            .connector_id = connector_id,
        };
        ret = ioctl(fd, DRM_IOCTL_MODE_GETCONNECTOR, &c.conn);
        FATAL_CHECK(!ret, FN);
    }
    c.encoders.resize(c.conn.count_encoders);
    c.modes.resize(c.conn.count_modes);
    c.mode_count = c.conn.count_modes;
}

void print_mode_list(const connector_modes& c)
{
    std::puts("  Available modes:");
    for (uint32_t i = 0; i < c.modes.size(); ++i) {
        const drm_mode_modeinfo& m = c.modes[i];
        std::printf("    mode[%d]: %s (%d x %d @ %dHz)\n", static_cast<int>(i), m.name, m.hdisplay,
                    m.vdisplay, m.vrefresh);
    }
}

// Mode by index in the first connector's list. Returns false when there is no connector.
bool choose_mode_by_index(int fd, const display_config& config, uint8_t mode_sel,
                          const std::vector<uint32_t>& connectors, connector_modes& chosen,
                          drm_mode_modeinfo& mode)
{
    if (connectors.empty())
        return false;
    read_connector(fd, connectors[0], chosen);
    if (config.print_modes)
        print_mode_list(chosen);
    if (mode_sel >= chosen.mode_count) {
        std::printf("mode index %d is out of range: the connector reports %u modes\n", mode_sel,
                    chosen.conn.count_modes);
        FATAL_CHECK(mode_sel < chosen.mode_count, FN);
    }
    mode = chosen.modes[mode_sel];
    MODE_WIDTH = mode.hdisplay;
    MODE_HEIGHT = mode.vdisplay;
    if (config.print_target)
        std::printf("Targeting mode[%d] (%d x %d @ %dHz)\n", mode_sel, mode.hdisplay, mode.vdisplay,
                    mode.vrefresh);
    return true;
}

// First mode of the configured size over all connectors; later connectors are not read.
bool choose_mode_by_size(int fd, const display_config& config,
                         const std::vector<uint32_t>& connectors, connector_modes& chosen,
                         drm_mode_modeinfo& mode)
{
    for (uint32_t connector_id : connectors) {
        read_connector(fd, connector_id, chosen);
        for (uint32_t m = 0; m < chosen.modes.size(); ++m) {
            if (chosen.modes[m].hdisplay == config.search_width &&
                chosen.modes[m].vdisplay == config.search_height) {
                mode = chosen.modes[m];
                MODE_WIDTH = mode.hdisplay;
                MODE_HEIGHT = mode.vdisplay;
                return true;
            }
        }
    }
    return false;
}

uint64_t start_value(prop_start start, uint32_t crtc_id)
{
    switch (start) {
    case prop_start::crtc:
        return crtc_id;
    case prop_start::on:
        return 1;
    case prop_start::mode_width:
        return MODE_WIDTH;
    case prop_start::mode_height:
        return MODE_HEIGHT;
    case prop_start::mode_width_fixed:
        return uint64_t{MODE_WIDTH} << 16;
    case prop_start::mode_height_fixed:
        return uint64_t{MODE_HEIGHT} << 16;
    default:
        return 0;
    }
}

// Looks up the names one object owns and records their ids in the handle.
void find_properties(int fd, display_handle& h, uint32_t object_id, uint32_t object_type,
                     uint32_t& prop_found)
{
    drm_mode_obj_get_properties props{.obj_id = object_id, .obj_type = object_type};
    int ret = ioctl(fd, DRM_IOCTL_MODE_OBJ_GETPROPERTIES, &props);
    FATAL_CHECK(!ret, FN);
    std::vector<uint32_t> ids;
    std::vector<uint64_t> values;
    while (ids.size() < props.count_props) {
        ids.resize(props.count_props);
        values.resize(props.count_props);
        props = drm_mode_obj_get_properties{
            .props_ptr = user_ptr(ids.data()),
            .prop_values_ptr = user_ptr(values.data()),
            .count_props = static_cast<uint32_t>(ids.size()),
            .obj_id = object_id,
            .obj_type = object_type,
        };
        ret = ioctl(fd, DRM_IOCTL_MODE_OBJ_GETPROPERTIES, &props);
        FATAL_CHECK(!ret, FN);
    }

    const uint32_t count = props.count_props;
    for (uint32_t i = 0; i < count; ++i) {
        drm_mode_get_property prop{.prop_id = ids[i]};
        ret = ioctl(fd, DRM_IOCTL_MODE_GETPROPERTY, &prop);
        FATAL_CHECK(!ret, FN);
        const std::string_view name(prop.name, strnlen(prop.name, DRM_PROP_NAME_LEN));
        for (const prop_slot& p : PROP_TABLE) {
            if (p.object_type == object_type && p.name == name) {
                h.prop_id[p.index] = prop.prop_id;
                prop_found |= 1u << p.index;
            }
        }
    }
}

} // namespace

void display_init(display_handle& h, const display_config& config, uint8_t mode_sel)
{
    h.config = &config;

    int fd = open(DRM_DEVICE_PATH, O_RDWR | O_CLOEXEC);
    FATAL_CHECK(fd >= 0, FN);

    drm_set_client_cap cap{.capability = DRM_CLIENT_CAP_ATOMIC, .value = 1};
    int ret = ioctl(fd, DRM_IOCTL_SET_CLIENT_CAP, &cap);
    FATAL_CHECK(!ret, FN);
    cap = {.capability = DRM_CLIENT_CAP_UNIVERSAL_PLANES, .value = 1};
    ret = ioctl(fd, DRM_IOCTL_SET_CLIENT_CAP, &cap);
    FATAL_CHECK(!ret, FN);

    const card_lists res = read_resources(fd);
    const std::vector<uint32_t> planes = read_planes(fd);

    connector_modes chosen{};
    drm_mode_modeinfo mode{};
    const bool found =
        config.search == mode_search::by_index
            ? choose_mode_by_index(fd, config, mode_sel, res.connectors, chosen, mode)
            : choose_mode_by_size(fd, config, res.connectors, chosen, mode);
    if (!found)
        FATAL_CHECK(!"could not find matching mode", FN);

    const uint32_t encoder_id =
        chosen.conn.encoder_id != 0 ? chosen.conn.encoder_id
        : chosen.encoders.empty()   ? 0
                                    : chosen.encoders[0];
    drm_mode_get_encoder enc{.encoder_id = encoder_id};
    ret = ioctl(fd, DRM_IOCTL_MODE_GETENCODER, &enc);
    FATAL_CHECK(!ret, FN);

    uint32_t crtc_id = enc.crtc_id;
    if (crtc_id == 0) {
        FATAL_CHECK(enc.possible_crtcs != 0, FN);
        const uint32_t crtc_index = static_cast<uint32_t>(__builtin_ctz(enc.possible_crtcs));
        const size_t crtc_count = res.crtcs.size();
        FATAL_CHECK(crtc_index < crtc_count, FN);
        crtc_id = res.crtcs[crtc_index];
    }

    h.connector_id = chosen.conn.connector_id;
    h.encoder_id = encoder_id;
    h.crtc_id = crtc_id;
    h.plane_id = planes[0];

    uint32_t prop_found = 0;
    find_properties(fd, h, h.connector_id, DRM_MODE_OBJECT_CONNECTOR, prop_found);
    find_properties(fd, h, h.crtc_id, DRM_MODE_OBJECT_CRTC, prop_found);
    find_properties(fd, h, h.plane_id, DRM_MODE_OBJECT_PLANE, prop_found);

    drm_mode_create_blob blob{.data = user_ptr(&mode), .length = sizeof mode};
    ret = ioctl(fd, DRM_IOCTL_MODE_CREATEPROPBLOB, &blob);
    FATAL_CHECK(!ret, FN);
    h.prop_value[PROP_MODE_ID] = blob.blob_id;

    FATAL_CHECK(prop_found == ((1 << PROP_MAX) - 1), FN);

    for (const prop_slot& p : PROP_TABLE)
        if (p.start != prop_start::mode_blob)
            h.prop_value[p.index] = start_value(p.start, crtc_id);
    h.fd = fd;
}
