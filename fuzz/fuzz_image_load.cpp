// panelshow's image load into a 4320 x 2160 framebuffer: the name test, the size
// check from the file's header, the decode and the copy, as load_image runs them.
//
// Input: one selector byte, then the file. Selector bit 0 set: the file is named
// "frame.rgb" (raw path), else "image" (decoder; it finds the format from the
// content). The file goes to a temporary folder because the decoder reads by path.
//
// A failing check of the load ends panelshow with status 1, an expected end for
// a bad file. Here fatal_check_failed (defined below, in place of the program's)
// throws instead, and the target goes on with the next input. What the program
// would have left to the process exit (the decoder's block) is freed then; every
// other path must free what the decoder allocated.
//
// A picture must come from the file alone: when the load accepts an input, the
// same file with bytes appended must give the same picture. A decoder that went on
// past the end with data it made up reads the appended bytes instead, and the
// target stops. JPEG and PNG go through
// Debian's libjpeg-turbo and libpng, which are not instrumented: their readers,
// our read callbacks and the row pointers into the framebuffer are.
#include "display/display.h"
#include "image/image_load.h"
#include "stb_tracking.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

struct fatal_stop {
    const char* condition;
};

constexpr size_t FRAME_BYTES = size_t{4320} * 2160 * 4;

std::string temp_folder;
unsigned char* framebuffer = nullptr;
unsigned char* second_framebuffer = nullptr;

// Bytes that no decoder makes up by itself.
constexpr size_t APPENDED = 4096;
constexpr uint8_t APPENDED_BYTE = 0xA5;

bool write_input(const std::string& path, const uint8_t* data, size_t size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = size == 0 || write(fd, data, size) == static_cast<ssize_t>(size);
    close(fd);
    return ok;
}

bool append_bytes(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    unsigned char more[APPENDED];
    std::memset(more, APPENDED_BYTE, sizeof more);
    const bool ok = fd >= 0 && write(fd, more, sizeof more) == static_cast<ssize_t>(sizeof more);
    close(fd);
    return ok;
}

// Loads into `map`; false when a check of the load failed.
bool load_into(unsigned char* map, const std::string& path)
{
    // No device: the plane's format list cannot be read, so decoded images take
    // the XR24 conversion, the path that touches every pixel.
    display_handle handle{};
    handle.fd = -1;
    const display_fb fb{.fb_id = 0,
                        .handle = 1,
                        .pitch = 4320 * 4,
                        .size = FRAME_BYTES,
                        .map_offset = 0,
                        .map = map,
                        .width = 4320,
                        .height = 2160};
    stb_tracking_begin();
    try {
        const uint32_t format = load_image(handle, fb, path.c_str());
        if (format != FORMAT_XR24)
            std::abort();
        stb_tracking_expect_none_live();
        return true;
    } catch (const fatal_stop&) {
        stb_tracking_free_live();
        return false;
    }
}

} // namespace

[[noreturn]] void fatal_check_failed(const char*, int, const char*, const char* condition,
                                     const char*)
{
    throw fatal_stop{condition};
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The load's own messages ("doesnt match expected size" ...) would flood the log.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base ? base : "/tmp") + "/fuzz-image-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr)
        std::abort();
    temp_folder = tmpl;
    framebuffer = static_cast<unsigned char*>(std::malloc(FRAME_BYTES));
    second_framebuffer = static_cast<unsigned char*>(std::malloc(FRAME_BYTES));
    MODE_WIDTH = 4320;
    MODE_HEIGHT = 2160;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return -1;
    const bool raw = data[0] & 1;
    const std::string path = temp_folder + (raw ? "/frame.rgb" : "/image");
    if (!write_input(path, data + 1, size - 1))
        std::abort();

    if (load_into(framebuffer, path)) {
        if (!append_bytes(path))
            std::abort();
        if (!load_into(second_framebuffer, path) ||
            std::memcmp(framebuffer, second_framebuffer, FRAME_BYTES) != 0) {
            std::fprintf(stderr, "the picture changed with bytes appended to the file: it was "
                                 "accepted from data that ran out\n");
            std::abort();
        }
    }
    unlink(path.c_str());
    return 0;
}
