// Device and mode set-up: open -> capabilities -> resources -> connector and mode
// -> encoder -> CRTC -> plane -> properties -> mode blob.
#include "display/display.h"
#include "display/drm_requests.h"
#include "display/properties.h"
#include "display/refusal.h"
#include "common/fatal.h"

#include <cerrno>
#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <vector>

uint16_t MODE_WIDTH = 0;
uint16_t MODE_HEIGHT = 0;

namespace {

constexpr const char* FN = "display_init";

// A failure's reason as one line, in a buffer that lasts until the process ends
// (the check that uses it ends the process).
[[gnu::format(printf, 1, 2)]] const char* format_reason(const char* format, ...)
{
    static char text[512];
    va_list ap;
    va_start(ap, format);
    const int n = std::vsnprintf(text, sizeof text - 1, format, ap);
    va_end(ap);
    const size_t end = n < 0 ? 0 : std::min(static_cast<size_t>(n), sizeof text - 2);
    text[end] = '\n';
    text[end + 1] = '\0';
    return text;
}

const char* open_failed(int error)
{
    char call[64];
    std::snprintf(call, sizeof call, "open %s", DRM_DEVICE_PATH);
    return call_failed(call, error);
}

// "!ret && plane_res.count_planes >= 1": the request failed, or there is no plane.
const char* planes_missing(int fd, int ret)
{
    return ret ? request_failed(fd, "DRM_IOCTL_MODE_GETPLANERESOURCES", errno)
               : format_reason("the device reports no planes");
}

// Which of the fourteen properties the objects lack, by object and name.
const char* missing_properties(uint32_t prop_found)
{
    char list[400] = "";
    size_t n = 0;
    for (const prop_slot& p : PROP_TABLE) {
        if (prop_found & (1u << p.index))
            continue;
        const char* object = p.object_type == DRM_MODE_OBJECT_CONNECTOR ? "connector"
                             : p.object_type == DRM_MODE_OBJECT_CRTC    ? "CRTC"
                                                                        : "plane";
        const int w = std::snprintf(list + n, sizeof list - n, "%s%s %.*s", n ? ", " : "", object,
                                    static_cast<int>(p.name.size()), p.name.data());
        if (w < 0 || static_cast<size_t>(w) >= sizeof list - n)
            break;
        n += static_cast<size_t>(w);
    }
    return format_reason("properties missing: %s", list);
}

int open_device()
{
    const int fd = open(DRM_DEVICE_PATH, O_RDWR | O_CLOEXEC);
    FATAL_CHECK_WHY(fd >= 0, FN, open_failed(errno));
    return fd;
}

void ask_for_atomic_and_every_plane(int fd)
{
    drm_set_client_cap cap{.capability = DRM_CLIENT_CAP_ATOMIC, .value = 1};
    DRM_REQUEST(fd, DRM_IOCTL_SET_CLIENT_CAP, &cap, FN);
    cap = {.capability = DRM_CLIENT_CAP_UNIVERSAL_PLANES, .value = 1};
    DRM_REQUEST(fd, DRM_IOCTL_SET_CLIENT_CAP, &cap, FN);
}

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
    DRM_REQUEST(fd, DRM_IOCTL_MODE_GETRESOURCES, &res, FN);
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
        DRM_REQUEST(fd, DRM_IOCTL_MODE_GETRESOURCES, &res, FN);
    }
    l.crtcs.resize(res.count_crtcs);
    l.connectors.resize(res.count_connectors);
    return l;
}

std::vector<uint32_t> read_planes(int fd)
{
    drm_mode_get_plane_res plane_res{};
    int ret = drm_ioctl(fd, DRM_IOCTL_MODE_GETPLANERESOURCES, &plane_res);
    FATAL_CHECK_WHY(!ret && plane_res.count_planes >= 1, FN, planes_missing(fd, ret));
    std::vector<uint32_t> planes;
    while (planes.size() < plane_res.count_planes) {
        planes.resize(plane_res.count_planes);
        plane_res = {.plane_id_ptr = user_ptr(planes.data()),
                     .count_planes = static_cast<uint32_t>(planes.size())};
        ret = drm_ioctl(fd, DRM_IOCTL_MODE_GETPLANERESOURCES, &plane_res);
        FATAL_CHECK_WHY(!ret && plane_res.count_planes >= 1, FN, planes_missing(fd, ret));
    }
    planes.resize(plane_res.count_planes);
    return planes;
}

struct connector_modes {
    drm_mode_get_connector conn;
    std::vector<uint32_t> encoders;
    std::vector<drm_mode_modeinfo> modes;
};

// Reads one connector: a probe with every count zero (which also makes the kernel
// probe the outputs), then with room for exactly the reported lists.
void read_connector(int fd, uint32_t connector_id, connector_modes& c)
{
    c.conn = drm_mode_get_connector{.connector_id = connector_id};
    DRM_REQUEST(fd, DRM_IOCTL_MODE_GETCONNECTOR, &c.conn, FN);

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
        DRM_REQUEST(fd, DRM_IOCTL_MODE_GETCONNECTOR, &c.conn, FN);
    }
    c.encoders.resize(c.conn.count_encoders);
    c.modes.resize(c.conn.count_modes);
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
    if (mode_sel >= chosen.modes.size()) {
        std::printf("mode index %d is out of range: the connector reports %u modes\n", mode_sel,
                    chosen.conn.count_modes);
        FATAL_FAIL_WHY("mode_sel < chosen.mode_count", FN,
                       format_reason("the connector has no mode %d: it reports %u", mode_sel,
                             chosen.conn.count_modes));
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

const char* no_mode_reason(const display_config& config, const card_lists& res)
{
    if (res.connectors.empty())
        return format_reason("the device lists no connector");
    return format_reason("none of the %zu connectors offers a %u x %u mode", res.connectors.size(),
                         config.search_width, config.search_height);
}

// The connector and mode the program's search finds; sets MODE_WIDTH and MODE_HEIGHT.
drm_mode_modeinfo choose_connector_and_mode(int fd, const display_config& config,
                                            uint8_t mode_sel, const card_lists& res,
                                            connector_modes& chosen)
{
    drm_mode_modeinfo mode{};
    const bool found =
        config.search == mode_search::by_index
            ? choose_mode_by_index(fd, config, mode_sel, res.connectors, chosen, mode)
            : choose_mode_by_size(fd, config, res.connectors, chosen, mode);
    if (!found)
        FATAL_CHECK_WHY(!"could not find matching mode", FN, no_mode_reason(config, res));
    return mode;
}

// The connector's current encoder, else the first one it lists.
drm_mode_get_encoder read_encoder(int fd, const connector_modes& chosen)
{
    const uint32_t encoder_id =
        chosen.conn.encoder_id != 0 ? chosen.conn.encoder_id
        : chosen.encoders.empty()   ? 0
                                    : chosen.encoders[0];
    drm_mode_get_encoder enc{.encoder_id = encoder_id};
    DRM_REQUEST(fd, DRM_IOCTL_MODE_GETENCODER, &enc, FN);
    return enc;
}

// The encoder's current CRTC, else the first one it can drive.
uint32_t choose_crtc(const drm_mode_get_encoder& enc, const card_lists& res)
{
    if (enc.crtc_id != 0)
        return enc.crtc_id;
    FATAL_CHECK_WHY(enc.possible_crtcs != 0, FN,
                    format_reason("encoder %u has no CRTC and can drive none", enc.encoder_id));
    const uint32_t crtc_index = static_cast<uint32_t>(__builtin_ctz(enc.possible_crtcs));
    const size_t crtc_count = res.crtcs.size();
    FATAL_CHECK_WHY(crtc_index < crtc_count, FN,
                    format_reason("encoder %u can drive CRTC %u only, but the device lists %zu CRTCs",
                                  enc.encoder_id, crtc_index, crtc_count));
    return res.crtcs[crtc_index];
}

// The first plane that can drive the CRTC: its possible_crtcs holds the bit of the
// CRTC's position in the resources' list. Where planes belong to one CRTC each,
// the first plane listed may belong to another one, and every commit would fail.
uint32_t choose_plane(int fd, const std::vector<uint32_t>& planes,
                      const std::vector<uint32_t>& crtcs, uint32_t crtc_id)
{
    size_t crtc_index = 0;
    while (crtc_index < crtcs.size() && crtcs[crtc_index] != crtc_id)
        ++crtc_index;
    uint32_t plane_id = 0;
    for (size_t i = 0; i < planes.size() && plane_id == 0 && crtc_index < 32; ++i) {
        drm_mode_get_plane plane{.plane_id = planes[i]};
        DRM_REQUEST(fd, DRM_IOCTL_MODE_GETPLANE, &plane, FN);
        if (plane.possible_crtcs & (1u << crtc_index))
            plane_id = planes[i];
    }
    FATAL_CHECK_WHY(plane_id != 0, FN,
                    format_reason("none of the %zu planes can drive CRTC %u", planes.size(), crtc_id));
    return plane_id;
}

// Looks up the names one object owns and records their ids in the handle.
void find_properties(int fd, display_handle& h, uint32_t object_id, uint32_t object_type,
                     uint32_t& prop_found)
{
    drm_mode_obj_get_properties props{.obj_id = object_id, .obj_type = object_type};
    DRM_REQUEST(fd, DRM_IOCTL_MODE_OBJ_GETPROPERTIES, &props, FN);
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
        DRM_REQUEST(fd, DRM_IOCTL_MODE_OBJ_GETPROPERTIES, &props, FN);
    }

    const uint32_t count = props.count_props;
    for (uint32_t i = 0; i < count; ++i) {
        drm_mode_get_property prop{.prop_id = ids[i]};
        DRM_REQUEST(fd, DRM_IOCTL_MODE_GETPROPERTY, &prop, FN);
        const std::string_view name(prop.name, strnlen(prop.name, DRM_PROP_NAME_LEN));
        for (const prop_slot& p : PROP_TABLE) {
            if (p.object_type == object_type && p.name == name) {
                h.prop_id[p.index] = prop.prop_id;
                prop_found |= 1u << p.index;
            }
        }
    }
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

uint32_t create_mode_blob(int fd, const drm_mode_modeinfo& mode)
{
    drm_mode_create_blob blob{.data = user_ptr(&mode), .length = sizeof mode};
    DRM_REQUEST(fd, DRM_IOCTL_MODE_CREATEPROPBLOB, &blob, FN);
    return blob.blob_id;
}

} // namespace

void display_init(display_handle& h, const display_config& config, uint8_t mode_sel)
{
    h.config = &config;
    const int fd = open_device();
    ask_for_atomic_and_every_plane(fd);
    const card_lists res = read_resources(fd);
    const std::vector<uint32_t> planes = read_planes(fd);

    connector_modes chosen{};
    const drm_mode_modeinfo mode = choose_connector_and_mode(fd, config, mode_sel, res, chosen);
    const drm_mode_get_encoder enc = read_encoder(fd, chosen);
    h.connector_id = chosen.conn.connector_id;
    h.encoder_id = enc.encoder_id;
    h.crtc_id = choose_crtc(enc, res);
    h.plane_id = choose_plane(fd, planes, res.crtcs, h.crtc_id);

    uint32_t prop_found = 0;
    find_properties(fd, h, h.connector_id, DRM_MODE_OBJECT_CONNECTOR, prop_found);
    find_properties(fd, h, h.crtc_id, DRM_MODE_OBJECT_CRTC, prop_found);
    find_properties(fd, h, h.plane_id, DRM_MODE_OBJECT_PLANE, prop_found);
    h.prop_value[PROP_MODE_ID] = create_mode_blob(fd, mode);
    FATAL_CHECK_WHY(prop_found == ((1 << PROP_MAX) - 1), FN, missing_properties(prop_found));

    for (const prop_slot& p : PROP_TABLE)
        if (p.start != prop_start::mode_blob)
            h.prop_value[p.index] = start_value(p.start, h.crtc_id);
    h.fd = fd;
}
