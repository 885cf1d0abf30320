#include "fake_drm.h"

#include <drm.h>
#include <drm_fourcc.h>
#include <drm_mode.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <ctime>
#include <unistd.h>

namespace {

constexpr const char DEVICE_PATH[] = "/dev/dri/card0";
constexpr const char BACKLIGHT_PREFIX[] = "/sys/class/backlight/ae94000.dsi.0/";
constexpr const char PROGRAMS_PREFIX[] = "/usr/lib/kestrin-display-tools/";
constexpr const char* REQ_NAMES[] = {
    "OPEN",   "SET_CLIENT_CAP", "GETRESOURCES", "GETPLANERESOURCES", "GETCONNECTOR",
    "GETENCODER", "OBJ_GETPROPERTIES", "GETPROPERTY", "CREATEPROPBLOB", "GET_CAP",
    "GETPLANE", "CREATE_DUMB", "MAP_DUMB", "MMAP", "ADDFB2", "ATOMIC", "POLL", "READ"};
static_assert(sizeof REQ_NAMES / sizeof *REQ_NAMES == size_t(fake_req::COUNT));

const char* const CONNECTOR_PROPS[] = {"EDID", "DPMS", "CRTC_ID", "link-status"};
const char* const CRTC_PROPS[] = {"ACTIVE", "MODE_ID", "OUT_FENCE_PTR", "VRR_ENABLED"};
const char* const PLANE_PROPS[] = {"type",   "FB_ID",  "IN_FENCE_FD", "CRTC_ID",
                                   "CRTC_X", "CRTC_Y", "CRTC_W",      "CRTC_H",
                                   "SRC_X",  "SRC_Y",  "SRC_W",       "SRC_H"};

struct dumb_buffer {
    uint32_t width, height, pitch;
    uint64_t size;
    uint8_t* map;
};

struct framebuffer {
    uint32_t handle, width, height, format;
};

struct state {
    fake_device device;
    std::vector<fake_failure> failures;
    std::vector<fake_call> calls;
    uint32_t seen[size_t(fake_req::COUNT)] = {};
    int dev_fd = -1;
    int event_write_fd = -1;
    std::map<uint32_t, dumb_buffer> dumbs; // by handle
    std::map<uint32_t, framebuffer> fbs;   // by fb id
    std::map<uint32_t, std::vector<uint8_t>> blobs;
    uint32_t next_handle = 1, next_fb = 81, next_blob = 71;
    uint8_t* last_map = nullptr;
    bool events_unread_pending = false;
    std::vector<uint8_t> events_after_read; // queued once the next read of events returns
};

template <typename F>
F real(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using open_fn = int (*)(const char*, int, ...);
using ioctl_fn = int (*)(int, unsigned long, ...);
using mmap_fn = void* (*)(void*, size_t, int, int, int, off_t);
using poll_fn = int (*)(pollfd*, nfds_t, int);
using read_fn = ssize_t (*)(int, void*, size_t);
using fopen_fn = FILE* (*)(const char*, const char*);
using execv_fn = int (*)(const char*, char* const*);

state& st();

void apply_environment(state& s)
{
    const char* env = getenv("FAKE_DRM");
    if (env)
        fake_drm_configure(env, s.device, s.failures);
}

state& st()
{
    static state* s = [] {
        auto* p = new state;
        p->device = fake_default_device();
        return p;
    }();
    // A sanitizer runtime maps memory (through our mmap) before the C library has
    // set up the environment; FAKE_DRM is read at the first call that can see it.
    static bool configured = false;
    if (!configured && environ != nullptr) {
        configured = true;
        apply_environment(*s);
    }
    return *s;
}

void log_line(const state& s, fake_req r, bool ok)
{
    if (s.device.log_path.empty())
        return;
    FILE* f = real<fopen_fn>("fopen")(s.device.log_path.c_str(), "a");
    if (!f)
        return;
    std::fprintf(f, "%s %s\n", fake_req_name(r), ok ? "ok" : "fail");
    std::fclose(f);
}

// The configured pause before answering r. A signal does not cut it short, so a
// test can interrupt the program while it waits here and still see the request
// completed afterwards.
void delay_request(const state& s, fake_req r)
{
    for (const fake_delay& d : s.device.delays) {
        if (d.request != r)
            continue;
        timespec left{.tv_sec = d.ms / 1000, .tv_nsec = long(d.ms % 1000) * 1000000};
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }
}

// Counts the request; returns the errno to fail it with, or 0.
int injected_error(state& s, fake_req r)
{
    const uint32_t n = ++s.seen[size_t(r)];
    for (const fake_failure& f : s.failures)
        if (f.request == r && n >= f.first && n < f.first + f.count)
            return f.error;
    return 0;
}

fake_call& record(state& s, fake_req r, const void* arg, size_t size)
{
    fake_call c{r, true, {}, {}, {}, {}, {}, {}};
    if (arg)
        c.arg.assign(static_cast<const uint8_t*>(arg), static_cast<const uint8_t*>(arg) + size);
    s.calls.push_back(std::move(c));
    return s.calls.back();
}

// A request with nothing to record but its kind (open, mmap, poll, read): counted,
// recorded and logged; returns the errno to fail it with, or 0.
int take_plain_request(state& s, fake_req r)
{
    const int err = injected_error(s, r);
    record(s, r, nullptr, 0).ok = err == 0;
    log_line(s, r, err == 0);
    return err;
}

template <typename T>
T* ptr(uint64_t p)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(p));
}

const fake_connector* find_connector(const state& s, uint32_t id)
{
    for (const fake_connector& c : s.device.connectors)
        if (c.id == id)
            return &c;
    return nullptr;
}

bool has_object(const state& s, uint32_t id, uint32_t type)
{
    switch (type) {
    case DRM_MODE_OBJECT_CONNECTOR:
        return find_connector(s, id) != nullptr;
    case DRM_MODE_OBJECT_CRTC:
        for (uint32_t c : s.device.crtcs)
            if (c == id)
                return true;
        return false;
    case DRM_MODE_OBJECT_PLANE:
        for (const fake_plane& p : s.device.planes)
            if (p.id == id)
                return true;
        return false;
    }
    return false;
}

std::vector<std::string> property_names(const state& s, uint32_t type)
{
    std::vector<std::string> names;
    auto add = [&](const char* const* list, size_t n) {
        for (size_t i = 0; i < n; ++i)
            names.emplace_back(list[i]);
    };
    if (type == DRM_MODE_OBJECT_CONNECTOR)
        add(CONNECTOR_PROPS, std::size(CONNECTOR_PROPS));
    else if (type == DRM_MODE_OBJECT_CRTC)
        add(CRTC_PROPS, std::size(CRTC_PROPS));
    else
        add(PLANE_PROPS, std::size(PLANE_PROPS));
    for (const std::string& extra : s.device.extra_props)
        names.push_back(extra);
    std::vector<std::string> kept;
    for (const std::string& n : names) {
        bool missing = false;
        for (const std::string& m : s.device.missing_props)
            missing |= m == n;
        if (!missing)
            kept.push_back(n);
    }
    return kept;
}

uint32_t type_base(uint32_t type)
{
    return type == DRM_MODE_OBJECT_CONNECTOR ? 100 : type == DRM_MODE_OBJECT_CRTC ? 200 : 300;
}

uint32_t object_type_of_prop(uint32_t prop_id)
{
    if (prop_id >= 300)
        return DRM_MODE_OBJECT_PLANE;
    if (prop_id >= 200)
        return DRM_MODE_OBJECT_CRTC;
    return DRM_MODE_OBJECT_CONNECTOR;
}

std::string prop_name_of(const state& s, uint32_t prop_id)
{
    const uint32_t type = object_type_of_prop(prop_id);
    const std::vector<std::string> names = property_names(s, type);
    const uint32_t index = prop_id - type_base(type);
    return index < names.size() ? names[index] : std::string();
}

drm_mode_modeinfo modeinfo(const fake_mode& m)
{
    drm_mode_modeinfo info{};
    info.hdisplay = m.width;
    info.vdisplay = m.height;
    info.vrefresh = m.refresh;
    info.htotal = static_cast<uint16_t>(m.width + 160);
    info.vtotal = static_cast<uint16_t>(m.height + 40);
    info.clock = static_cast<uint32_t>(uint64_t{info.htotal} * info.vtotal * m.refresh / 1000);
    info.type = DRM_MODE_TYPE_DRIVER;
    std::snprintf(info.name, sizeof info.name, "%ux%u", m.width, m.height);
    return info;
}

int unread_event_bytes(const state& s)
{
    int n = 0;
    real<ioctl_fn>("ioctl")(s.dev_fd, FIONREAD, &n);
    return n;
}

void write_frame(const state& s, const framebuffer& fb)
{
    const auto it = s.dumbs.find(fb.handle);
    if (s.device.frame_path.empty() || it == s.dumbs.end())
        return;
    const std::string tmp = s.device.frame_path + ".tmp";
    FILE* f = real<fopen_fn>("fopen")(tmp.c_str(), "wb");
    if (!f)
        return;
    for (uint32_t y = 0; y < fb.height; ++y)
        std::fwrite(it->second.map + size_t{y} * it->second.pitch, 4, fb.width, f);
    std::fclose(f);
    std::rename(tmp.c_str(), s.device.frame_path.c_str());
}

void record_atomic(const drm_mode_atomic& a, fake_call& call)
{
    call.objs.assign(ptr<uint32_t>(a.objs_ptr), ptr<uint32_t>(a.objs_ptr) + a.count_objs);
    call.counts.assign(ptr<uint32_t>(a.count_props_ptr),
                       ptr<uint32_t>(a.count_props_ptr) + a.count_objs);
    uint32_t total = 0;
    for (uint32_t c : call.counts)
        total += c;
    call.props.assign(ptr<uint32_t>(a.props_ptr), ptr<uint32_t>(a.props_ptr) + total);
    call.values.assign(ptr<uint64_t>(a.prop_values_ptr), ptr<uint64_t>(a.prop_values_ptr) + total);
}

// As the kernel checks a commit: the plane's possible_crtcs holds the CRTC's position.
bool plane_drives(const state& s, uint32_t plane_id, uint32_t crtc_id)
{
    for (const fake_plane& p : s.device.planes) {
        if (p.id != plane_id)
            continue;
        for (size_t i = 0; i < s.device.crtcs.size() && i < 32; ++i)
            if (s.device.crtcs[i] == crtc_id)
                return (p.possible_crtcs >> i) & 1u;
    }
    return false;
}

int mode_atomic(state& s, void* arg)
{
    const drm_mode_atomic& a = *static_cast<drm_mode_atomic*>(arg);
    const fake_call& call = s.calls.back();
    if (s.device.busy_until_event_read && unread_event_bytes(s) > 0)
        return EBUSY;
    if ((a.flags & DRM_MODE_PAGE_FLIP_EVENT) &&
        unread_event_bytes(s) + sizeof(drm_event_vblank) > s.device.event_queue_limit)
        return ENOMEM;

    size_t at = 0;
    const framebuffer* shown = nullptr;
    for (uint32_t o = 0; o < a.count_objs; ++o) {
        for (uint32_t i = 0; i < call.counts[o]; ++i, ++at) {
            const uint32_t type = object_type_of_prop(call.props[at]);
            if (!has_object(s, call.objs[o], type) || prop_name_of(s, call.props[at]).empty())
                return EINVAL;
            const std::string name = prop_name_of(s, call.props[at]);
            const uint64_t v = call.values[at];
            if (type == DRM_MODE_OBJECT_PLANE && name == "CRTC_ID" && v != 0 &&
                !plane_drives(s, call.objs[o], static_cast<uint32_t>(v)))
                return EINVAL;
            if (name == "MODE_ID" && v != 0 && !s.blobs.count(static_cast<uint32_t>(v)))
                return EINVAL;
            if (name == "FB_ID" && v != 0) {
                const auto fb = s.fbs.find(static_cast<uint32_t>(v));
                if (fb == s.fbs.end())
                    return EINVAL;
                shown = &fb->second;
                for (const fake_plane& p : s.device.planes) {
                    if (p.id != call.objs[o])
                        continue;
                    bool ok = false;
                    for (uint32_t f : p.formats)
                        ok |= f == shown->format;
                    if (!ok)
                        return EINVAL;
                }
            }
        }
    }
    if (shown)
        write_frame(s, *shown);
    if ((a.flags & DRM_MODE_PAGE_FLIP_EVENT) && s.device.flip_events) {
        drm_event_vblank ev{};
        ev.base.type = DRM_EVENT_FLIP_COMPLETE;
        ev.base.length = sizeof ev;
        ev.user_data = a.user_data;
        (void)!write(s.event_write_fd, &ev, sizeof ev);
    }
    return 0;
}

template <typename T>
void copy_list(uint64_t dst, uint32_t room, const std::vector<T>& src)
{
    for (uint32_t i = 0; i < room && i < src.size(); ++i)
        ptr<T>(dst)[i] = src[i];
}

// The ids of a list of objects, in order, as the kernel lists them.
template <typename T>
std::vector<uint32_t> ids_of(const std::vector<T>& objects)
{
    std::vector<uint32_t> ids;
    for (const T& o : objects)
        ids.push_back(o.id);
    return ids;
}

int getcap(state& s, void* arg)
{
    auto* cap = static_cast<drm_get_cap*>(arg);
    cap->value = cap->capability == DRM_CAP_ADDFB2_MODIFIERS ? s.device.addfb2_modifiers
                 : cap->capability == DRM_CAP_DUMB_BUFFER    ? 1
                                                             : 0;
    return 0;
}

int mode_getresources(state& s, void* arg)
{
    auto* r = static_cast<drm_mode_card_res*>(arg);
    const std::vector<uint32_t> conns = ids_of(s.device.connectors);
    copy_list(r->crtc_id_ptr, r->count_crtcs, s.device.crtcs);
    copy_list(r->connector_id_ptr, r->count_connectors, conns);
    r->count_crtcs = static_cast<uint32_t>(s.device.crtcs.size());
    r->count_connectors = static_cast<uint32_t>(conns.size());
    r->count_encoders = static_cast<uint32_t>(s.device.encoders.size());
    r->count_fbs = 0;
    r->min_width = r->min_height = 0;
    r->max_width = r->max_height = 16384;
    return 0;
}

int mode_getplane_res(state& s, void* arg)
{
    auto* r = static_cast<drm_mode_get_plane_res*>(arg);
    const std::vector<uint32_t> ids = ids_of(s.device.planes);
    if (r->count_planes >= ids.size())
        copy_list(r->plane_id_ptr, r->count_planes, ids);
    r->count_planes = static_cast<uint32_t>(ids.size());
    return 0;
}

int mode_getconnector(state& s, void* arg)
{
    auto* c = static_cast<drm_mode_get_connector*>(arg);
    const fake_connector* conn = find_connector(s, c->connector_id);
    if (!conn)
        return ENOENT;
    std::vector<drm_mode_modeinfo> modes;
    for (const fake_mode& m : conn->modes)
        modes.push_back(modeinfo(m));
    if (c->count_modes >= modes.size())
        copy_list(c->modes_ptr, c->count_modes, modes);
    if (c->count_encoders >= conn->encoders.size())
        copy_list(c->encoders_ptr, c->count_encoders, conn->encoders);
    c->count_modes = static_cast<uint32_t>(modes.size());
    c->count_encoders = static_cast<uint32_t>(conn->encoders.size());
    c->count_props = 0;
    c->encoder_id = conn->encoder_id;
    c->connection = 1; // connected
    return 0;
}

int mode_getencoder(state& s, void* arg)
{
    auto* e = static_cast<drm_mode_get_encoder*>(arg);
    for (const fake_encoder& enc : s.device.encoders) {
        if (enc.id == e->encoder_id) {
            e->crtc_id = enc.crtc_id;
            e->possible_crtcs = enc.possible_crtcs;
            e->possible_clones = 0;
            return 0;
        }
    }
    return ENOENT;
}

int mode_obj_get_properties(state& s, void* arg)
{
    auto* p = static_cast<drm_mode_obj_get_properties*>(arg);
    if (!has_object(s, p->obj_id, p->obj_type))
        return ENOENT;
    const std::vector<std::string> names = property_names(s, p->obj_type);
    std::vector<uint32_t> ids;
    std::vector<uint64_t> values;
    for (size_t i = 0; i < names.size(); ++i) {
        ids.push_back(type_base(p->obj_type) + static_cast<uint32_t>(i));
        values.push_back(0);
    }
    copy_list(p->props_ptr, p->count_props, ids);
    copy_list(p->prop_values_ptr, p->count_props, values);
    p->count_props = static_cast<uint32_t>(ids.size());
    return 0;
}

int mode_getproperty(state& s, void* arg)
{
    auto* p = static_cast<drm_mode_get_property*>(arg);
    const std::string name = prop_name_of(s, p->prop_id);
    if (name.empty())
        return ENOENT;
    std::memset(p->name, 0, sizeof p->name);
    std::memcpy(p->name, name.data(), std::min(name.size(), sizeof p->name - 1));
    p->count_values = p->count_enum_blobs = 0;
    return 0;
}

int mode_createblob(state& s, void* arg)
{
    auto* b = static_cast<drm_mode_create_blob*>(arg);
    const auto* data = ptr<uint8_t>(b->data);
    b->blob_id = s.next_blob++;
    s.blobs[b->blob_id] = std::vector<uint8_t>(data, data + b->length);
    s.calls.back().blob = s.blobs[b->blob_id];
    return 0;
}

int mode_getplane(state& s, void* arg)
{
    auto* p = static_cast<drm_mode_get_plane*>(arg);
    for (const fake_plane& plane : s.device.planes) {
        if (plane.id != p->plane_id)
            continue;
        if (p->count_format_types >= plane.formats.size())
            copy_list(p->format_type_ptr, p->count_format_types, plane.formats);
        p->count_format_types = static_cast<uint32_t>(plane.formats.size());
        p->possible_crtcs = plane.possible_crtcs;
        return 0;
    }
    return ENOENT;
}

int mode_create_dumb(state& s, void* arg)
{
    auto* d = static_cast<drm_mode_create_dumb*>(arg);
    if (d->width == 0 || d->height == 0 || d->bpp != 32)
        return EINVAL;
    dumb_buffer buf{d->width, d->height, d->width * 4 + s.device.pitch_padding, 0, nullptr};
    buf.size = (uint64_t{buf.pitch} * buf.height + 4095) & ~uint64_t{4095};
    void* mem = real<mmap_fn>("mmap")(nullptr, buf.size, PROT_READ | PROT_WRITE,
                                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED)
        return ENOMEM;
    buf.map = static_cast<uint8_t*>(mem);
    d->handle = s.next_handle++;
    d->pitch = buf.pitch;
    d->size = buf.size;
    s.dumbs[d->handle] = buf;
    return 0;
}

int mode_mmap_dumb(state& s, void* arg)
{
    auto* m = static_cast<drm_mode_map_dumb*>(arg);
    if (!s.dumbs.count(m->handle))
        return ENOENT;
    m->offset = uint64_t{m->handle} << 32;
    return 0;
}

int mode_addfb2(state& s, void* arg)
{
    auto* f = static_cast<drm_mode_fb_cmd2*>(arg);
    const auto it = s.dumbs.find(f->handles[0]);
    if (it == s.dumbs.end())
        return ENOENT;
    if ((f->flags & DRM_MODE_FB_MODIFIERS) && !s.device.addfb2_modifiers)
        return EINVAL;
    if (f->pitches[0] != it->second.pitch || f->width > it->second.width ||
        f->height > it->second.height)
        return EINVAL;
    f->fb_id = s.next_fb++;
    s.fbs[f->fb_id] = framebuffer{f->handles[0], f->width, f->height, f->pixel_format};
    return 0;
}

// The requests the fake answers, one function each as in the kernel's own table:
// code, name in calls and log, and the answer, which returns 0 or an errno.
struct request_entry {
    unsigned long code;
    fake_req kind;
    int (*answer)(state& s, void* arg);
};

constexpr request_entry REQUESTS[] = {
    {DRM_IOCTL_SET_CLIENT_CAP, fake_req::SET_CLIENT_CAP, [](state&, void*) { return 0; }},
    {DRM_IOCTL_GET_CAP, fake_req::GET_CAP, getcap},
    {DRM_IOCTL_MODE_GETRESOURCES, fake_req::GETRESOURCES, mode_getresources},
    {DRM_IOCTL_MODE_GETPLANERESOURCES, fake_req::GETPLANERESOURCES, mode_getplane_res},
    {DRM_IOCTL_MODE_GETCONNECTOR, fake_req::GETCONNECTOR, mode_getconnector},
    {DRM_IOCTL_MODE_GETENCODER, fake_req::GETENCODER, mode_getencoder},
    {DRM_IOCTL_MODE_OBJ_GETPROPERTIES, fake_req::OBJ_GETPROPERTIES, mode_obj_get_properties},
    {DRM_IOCTL_MODE_GETPROPERTY, fake_req::GETPROPERTY, mode_getproperty},
    {DRM_IOCTL_MODE_CREATEPROPBLOB, fake_req::CREATEPROPBLOB, mode_createblob},
    {DRM_IOCTL_MODE_GETPLANE, fake_req::GETPLANE, mode_getplane},
    {DRM_IOCTL_MODE_CREATE_DUMB, fake_req::CREATE_DUMB, mode_create_dumb},
    {DRM_IOCTL_MODE_MAP_DUMB, fake_req::MAP_DUMB, mode_mmap_dumb},
    {DRM_IOCTL_MODE_ADDFB2, fake_req::ADDFB2, mode_addfb2},
    {DRM_IOCTL_MODE_ATOMIC, fake_req::ATOMIC, mode_atomic},
};

// The backlight's sysfs files are served from the test's folder when it gives one.
const char* backlight_path(const char* path)
{
    thread_local std::string redirected;
    const state& s = st();
    if (path == nullptr || s.device.backlight_dir.empty() ||
        std::strncmp(path, BACKLIGHT_PREFIX, sizeof BACKLIGHT_PREFIX - 1) != 0)
        return path;
    redirected = s.device.backlight_dir + "/" + (path + sizeof BACKLIGHT_PREFIX - 1);
    return redirected.c_str();
}

int fake_open(const char* path, int flags, mode_t mode)
{
    if (path && std::strcmp(path, DEVICE_PATH) == 0) {
        state& s = st();
        delay_request(s, fake_req::OPEN);
        if (const int err = take_plain_request(s, fake_req::OPEN)) {
            errno = err;
            return -1;
        }
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return -1;
        fcntl(fds[1], F_SETFL, O_NONBLOCK);
        s.dev_fd = fds[0];
        s.event_write_fd = fds[1];
        return fds[0];
    }
    return real<open_fn>("open")(backlight_path(path), flags, mode);
}

} // namespace

// ---- test-facing API ----

const char* fake_req_name(fake_req r)
{
    return size_t(r) < size_t(fake_req::COUNT) ? REQ_NAMES[size_t(r)] : "?";
}

bool fake_req_from_name(const std::string& name, fake_req& out)
{
    for (size_t i = 0; i < size_t(fake_req::COUNT); ++i) {
        if (name == REQ_NAMES[i]) {
            out = fake_req(i);
            return true;
        }
    }
    return false;
}

fake_device fake_default_device()
{
    fake_device d;
    d.crtcs = {31, 32};
    d.connectors = {{41, 51, {51}, {{4320, 2160, 75}, {1920, 1080, 60}, {3840, 2160, 30}}}};
    d.encoders = {{51, 31, 0x3}};
    d.planes = {{61, {DRM_FORMAT_XRGB8888, DRM_FORMAT_XBGR8888}}, {62, {DRM_FORMAT_XRGB8888}}};
    return d;
}

fake_device fake_crowded_device(uint32_t modes, uint32_t encoders)
{
    fake_device d = fake_default_device();
    fake_connector& c = d.connectors[0];
    c.encoder_id = 0;
    c.encoders.clear();
    c.modes.clear();
    d.encoders.clear();
    for (uint32_t i = 0; i < encoders; ++i) {
        c.encoders.push_back(51 + i);
        d.encoders.push_back({51 + i, 31, 0x3});
    }
    for (uint32_t i = 0; i < modes; ++i)
        c.modes.push_back({static_cast<uint16_t>(1000 + i), static_cast<uint16_t>(500 + i), 60 + i});
    return d;
}

void fake_drm_reset(const fake_device& device)
{
    state& s = st();
    s.device = device;
    s.failures.clear();
    s.calls.clear();
    std::memset(s.seen, 0, sizeof s.seen);
    s.dumbs.clear();
    s.fbs.clear();
    s.blobs.clear();
    if (s.dev_fd >= 0) {
        close(s.dev_fd);
        close(s.event_write_fd);
    }
    s.dev_fd = s.event_write_fd = -1;
    s.last_map = nullptr;
}

void fake_drm_fail(const fake_failure& failure)
{
    st().failures.push_back(failure);
}

const std::vector<fake_call>& fake_drm_calls()
{
    return st().calls;
}

uint32_t fake_prop_id(uint32_t object_type, const std::string& name)
{
    const std::vector<std::string> names = property_names(st(), object_type);
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name)
            return type_base(object_type) + static_cast<uint32_t>(i);
    return 0;
}

uint8_t* fake_dumb_map()
{
    return st().last_map;
}

void fake_drm_push_event_bytes(const std::vector<uint8_t>& bytes)
{
    (void)!write(st().event_write_fd, bytes.data(), bytes.size());
}

void fake_drm_push_event_bytes_after_read(const std::vector<uint8_t>& bytes)
{
    st().events_after_read = bytes;
}

std::vector<uint8_t> fake_blob(uint32_t id)
{
    const auto it = st().blobs.find(id);
    return it == st().blobs.end() ? std::vector<uint8_t>() : it->second;
}

namespace {

bool parse_modes(const std::string& text, std::vector<fake_mode>& modes)
{
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        unsigned w = 0, h = 0, r = 0;
        if (std::sscanf(item.c_str(), "%ux%u@%u", &w, &h, &r) != 3)
            return false;
        modes.push_back({static_cast<uint16_t>(w), static_cast<uint16_t>(h), r});
    }
    return true;
}

} // namespace

bool fake_drm_configure(const std::string& text, fake_device& d, std::vector<fake_failure>& failures)
{
    std::stringstream in(text);
    std::string item;
    bool custom_connectors = false;
    while (std::getline(in, item, ';')) {
        if (item.empty())
            continue;
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        if (key == "conn") {
            if (!custom_connectors) {
                d.connectors.clear();
                d.encoders.clear();
                custom_connectors = true;
            }
            const uint32_t n = static_cast<uint32_t>(d.connectors.size());
            fake_connector c{41 + n, 51 + n, {51 + n}, {}};
            if (!value.empty() && !parse_modes(value, c.modes))
                return false;
            d.connectors.push_back(c);
            d.encoders.push_back({51 + n, 31, 0x3});
        } else if (key == "noconn") {
            d.connectors.clear();
        } else if (key == "noplanes") {
            d.planes.clear();
        } else if (key == "fail") {
            fake_failure f{fake_req::COUNT, 1, 1, EINVAL};
            char name[32] = {};
            unsigned first = 1, count = 1;
            int err = EINVAL;
            std::sscanf(value.c_str(), "%31[A-Z_0-9]:%u:%u:%d", name, &first, &count, &err);
            if (!fake_req_from_name(name, f.request))
                return false;
            f.first = first;
            f.count = count;
            f.error = err;
            failures.push_back(f);
        } else if (key == "pitch_padding") {
            d.pitch_padding = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (key == "nomodifiers") {
            d.addfb2_modifiers = false;
        } else if (key == "noxbgr") {
            for (fake_plane& p : d.planes)
                p.formats = {DRM_FORMAT_XRGB8888};
        } else if (key == "busy") {
            d.busy_until_event_read = true;
        } else if (key == "noevents") {
            d.flip_events = false;
        } else if (key == "missing") {
            d.missing_props.push_back(value);
        } else if (key == "frame") {
            d.frame_path = value;
        } else if (key == "log") {
            d.log_path = value;
        } else if (key == "backlight") {
            d.backlight_dir = value;
        } else if (key == "programs") {
            d.programs_dir = value;
        } else if (key == "delay") {
            fake_delay delay{fake_req::COUNT, 0};
            char name[32] = {};
            unsigned ms = 0;
            if (std::sscanf(value.c_str(), "%31[A-Z_0-9]:%u", name, &ms) != 2 ||
                !fake_req_from_name(name, delay.request))
                return false;
            delay.ms = ms;
            d.delays.push_back(delay);
        } else {
            return false;
        }
    }
    return true;
}

// ---- interposed C library functions ----

extern "C" {

int open(const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = va_arg(ap, mode_t);
        va_end(ap);
    }
    return fake_open(path, flags, mode);
}

// open under its large-file name: on 64-bit targets the two are one call.
int open64(const char* path, int flags, ...) __attribute__((alias("open")));

int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);

    state& s = st();
    if (fd < 0 || fd != s.dev_fd)
        return real<ioctl_fn>("ioctl")(fd, request, arg);

    const auto entry = std::ranges::find(REQUESTS, request, &request_entry::code);
    if (entry == std::end(REQUESTS)) {
        errno = ENOTTY;
        return -1;
    }
    const fake_req kind = entry->kind;
    delay_request(s, kind);
    fake_call& call = record(s, kind, arg, _IOC_SIZE(request));
    const int injected = injected_error(s, kind);
    if (kind == fake_req::ATOMIC)
        record_atomic(*static_cast<drm_mode_atomic*>(arg), call);
    const int err = injected ? injected : entry->answer(s, arg);
    s.calls.back().ok = err == 0;
    log_line(s, kind, err == 0);
    if (err) {
        errno = err;
        return -1;
    }
    return 0;
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) noexcept
{
    if (fd < 0)
        return real<mmap_fn>("mmap")(addr, length, prot, flags, fd, offset);
    state& s = st();
    if (fd != s.dev_fd)
        return real<mmap_fn>("mmap")(addr, length, prot, flags, fd, offset);
    const int err = take_plain_request(s, fake_req::MMAP);
    const uint32_t handle = static_cast<uint32_t>(static_cast<uint64_t>(offset) >> 32);
    const auto it = s.dumbs.find(handle);
    if (err || it == s.dumbs.end() || length > it->second.size) {
        errno = err ? err : EINVAL;
        return MAP_FAILED;
    }
    s.last_map = it->second.map;
    return it->second.map;
}

void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off_t offset) noexcept
{
    return mmap(addr, length, prot, flags, fd, offset);
}

int poll(pollfd* fds, nfds_t n, int timeout)
{
    state& s = st();
    if (n == 1 && fds[0].fd >= 0 && fds[0].fd == s.dev_fd) {
        if (const int err = take_plain_request(s, fake_req::POLL)) {
            errno = err;
            return -1;
        }
        fds[0].revents = s.device.poll_revents;
        if (s.device.poll_revents != 0)
            return 1;
    }
    return real<poll_fn>("poll")(fds, n, timeout);
}

ssize_t read(int fd, void* buf, size_t count)
{
    state& s = st();
    if (fd >= 0 && fd == s.dev_fd) {
        if (const int err = take_plain_request(s, fake_req::READ)) {
            errno = err;
            return -1;
        }
        const ssize_t n = real<read_fn>("read")(fd, buf, count);
        if (!s.events_after_read.empty()) {
            fake_drm_push_event_bytes(s.events_after_read);
            s.events_after_read.clear();
        }
        return n;
    }
    return real<read_fn>("read")(fd, buf, count);
}

FILE* fopen(const char* path, const char* mode)
{
    return real<fopen_fn>("fopen")(backlight_path(path), mode);
}

FILE* fopen64(const char* path, const char* mode)
{
    return fopen(path, mode);
}

// The launchers start their image programs with execv: a test's stand-ins run
// in place of the installed ones.
int execv(const char* path, char* const argv[])
{
    const state& s = st();
    if (!s.device.programs_dir.empty() &&
        std::strncmp(path, PROGRAMS_PREFIX, sizeof PROGRAMS_PREFIX - 1) == 0) {
        const std::string redirected =
            s.device.programs_dir + "/" + (path + sizeof PROGRAMS_PREFIX - 1);
        return real<execv_fn>("execv")(redirected.c_str(), argv);
    }
    return real<execv_fn>("execv")(path, argv);
}

} // extern "C"
