// A fake DRM device for tests: it answers the display core's requests on
// "/dev/dri/card0", records every request, and fails any chosen one.
//
// It works by symbol interposition (open, ioctl, mmap, poll, read, fopen, execv):
// linked into a test executable it serves that process; built as a shared
// library and loaded with LD_PRELOAD it serves a whole program, configured
// through the FAKE_DRM environment variable (see fake_drm_configure).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class fake_req : uint8_t {
    OPEN,
    SET_CLIENT_CAP,
    GETRESOURCES,
    GETPLANERESOURCES,
    GETCONNECTOR,
    GETENCODER,
    OBJ_GETPROPERTIES,
    GETPROPERTY,
    CREATEPROPBLOB,
    GET_CAP,
    GETPLANE,
    CREATE_DUMB,
    MAP_DUMB,
    MMAP,
    ADDFB2,
    ATOMIC,
    POLL,
    READ,
    COUNT
};

const char* fake_req_name(fake_req r);
bool fake_req_from_name(const std::string& name, fake_req& out);

struct fake_mode {
    uint16_t width;
    uint16_t height;
    uint32_t refresh;
};

struct fake_connector {
    uint32_t id;
    uint32_t encoder_id; // current encoder, 0 for none
    std::vector<uint32_t> encoders;
    std::vector<fake_mode> modes;
};

struct fake_encoder {
    uint32_t id;
    uint32_t crtc_id; // current CRTC, 0 for none
    uint32_t possible_crtcs;
};

struct fake_plane {
    uint32_t id;
    std::vector<uint32_t> formats;
    uint32_t possible_crtcs = ~0u; // bit i: the plane can drive the i-th CRTC listed
};

// A request that the fake answers only after a pause, for interrupting a program
// in the middle of a step.
struct fake_delay {
    fake_req request;
    uint32_t ms; // every occurrence of the request waits this long
};

struct fake_device {
    std::vector<uint32_t> crtcs;
    std::vector<fake_connector> connectors;
    std::vector<fake_encoder> encoders;
    std::vector<fake_plane> planes;
    std::vector<std::string> missing_props; // names left out of every object
    std::vector<std::string> extra_props;   // decoy names added to every object
    uint32_t pitch_padding = 0;             // bytes added to each row of a dumb buffer
    bool addfb2_modifiers = true;
    bool flip_events = true;        // commits with the event flag queue a flip-complete event
    uint32_t event_queue_limit = 4096; // bytes of unread events before commits fail (ENOMEM)
    bool busy_until_event_read = false; // commits fail with EBUSY while a flip event is unread
    short poll_revents = 0;   // non-zero: polls of the device answer this at once (a device gone)
    std::string frame_path;     // if set, each accepted commit writes the frame here (rows packed)
    std::string log_path;       // if set, one line per request is appended here
    std::string backlight_dir;  // if set, the backlight sysfs files are served from here
    std::string programs_dir;   // if set, programs of the install folder are run from here
    std::vector<fake_delay> delays;
};

// One connector (id 41, encoder 51 on CRTC 31) with 4320x2160@75, 1920x1080@60,
// 3840x2160@30; CRTCs 31 and 32; planes 61 (XR24, XB24) and 62.
fake_device fake_default_device();
// The default device with one connector of `modes` modes (1000x500@60, 1001x501@61, ...)
// and `encoders` encoders, none of them current: more than a fixed room of 64 modes
// or 16 encoders holds.
fake_device fake_crowded_device(uint32_t modes, uint32_t encoders);

struct fake_failure {
    fake_req request;
    uint32_t first; // 1-based occurrence of the request that fails first
    uint32_t count; // how many occurrences from there fail
    int error;      // errno to report
};

struct fake_call {
    fake_req request;
    bool ok;
    std::vector<uint8_t> arg;          // the argument as the caller sent it
    std::vector<uint32_t> objs;        // ATOMIC: object ids
    std::vector<uint32_t> counts;      // ATOMIC: property counts per object
    std::vector<uint32_t> props;       // ATOMIC: property ids
    std::vector<uint64_t> values;      // ATOMIC: property values; CREATEPROPBLOB: none
    std::vector<uint8_t> blob;         // CREATEPROPBLOB: the data
};

// Replaces the device and forgets failures, calls and open descriptors.
void fake_drm_reset(const fake_device& device);
void fake_drm_fail(const fake_failure& failure);
const std::vector<fake_call>& fake_drm_calls();
// Reads a configuration such as
//   "conn=4320x2160@75,1920x1080@60;conn=...;fail=ATOMIC:1:11;pitch_padding=128;
//    nomodifiers;noxbgr;busy;frame=/tmp/f;log=/tmp/l;backlight=/tmp/bl;delay=ATOMIC:500;
//    programs=/tmp/p"
// into a device (starting from the default one) and failures.
bool fake_drm_configure(const std::string& text, fake_device& device,
                        std::vector<fake_failure>& failures);

// Property ids the fake hands out: connector 100+, CRTC 200+, plane 300+.
uint32_t fake_prop_id(uint32_t object_type, const std::string& name);
// The mapping of the last dumb buffer created (nullptr before).
uint8_t* fake_dumb_map();
// Writes raw bytes into the event queue of the open device, as the kernel would.
void fake_drm_push_event_bytes(const std::vector<uint8_t>& bytes);
// The same, once the program's next read of events has returned: events that
// arrive while it waits, in a known order whatever the machine's speed.
void fake_drm_push_event_bytes_after_read(const std::vector<uint8_t>& bytes);
// Blob data by id (empty if unknown).
std::vector<uint8_t> fake_blob(uint32_t id);
