// Kernel DRM interface: the uapi headers, the request codes we rely on, and the
// one way the display core issues a request.
#pragma once

#include "common/fatal.h"
#include "display/refusal.h"

#include <drm.h>
#include <drm_fourcc.h>
#include <drm_mode.h>

#include <cerrno>
#include <cstdint>
#include <sys/ioctl.h>

// The request codes are part of the kernel ABI; a header that disagrees would make
// every request fail on the device.
static_assert(DRM_IOCTL_SET_CLIENT_CAP == 0x4010640D);
static_assert(DRM_IOCTL_MODE_GETRESOURCES == 0xC04064A0);
static_assert(DRM_IOCTL_MODE_GETPLANERESOURCES == 0xC01064B5);
static_assert(DRM_IOCTL_MODE_GETCONNECTOR == 0xC05064A7);
static_assert(DRM_IOCTL_MODE_GETENCODER == 0xC01464A6);
static_assert(DRM_IOCTL_MODE_OBJ_GETPROPERTIES == 0xC02064B9);
static_assert(DRM_IOCTL_MODE_GETPROPERTY == 0xC04064AA);
static_assert(DRM_IOCTL_MODE_CREATEPROPBLOB == 0xC01064BD);
static_assert(DRM_IOCTL_MODE_CREATE_DUMB == 0xC02064B2);
static_assert(DRM_IOCTL_MODE_MAP_DUMB == 0xC01064B3);
static_assert(DRM_IOCTL_MODE_ADDFB2 == 0xC06864B8);
static_assert(DRM_IOCTL_MODE_ATOMIC == 0xC03864BC);

static_assert(DRM_CLIENT_CAP_ATOMIC == 3);
static_assert(DRM_CLIENT_CAP_UNIVERSAL_PLANES == 2);
static_assert(DRM_MODE_PAGE_FLIP_EVENT == 0x1);
static_assert(DRM_MODE_ATOMIC_NONBLOCK == 0x200);
static_assert(DRM_MODE_ATOMIC_ALLOW_MODESET == 0x400);
static_assert(DRM_MODE_FB_MODIFIERS == 2);
static_assert(DRM_EVENT_FLIP_COMPLETE == 2);
static_assert(DRM_FORMAT_XRGB8888 == 0x34325258);
static_assert(DRM_FORMAT_XBGR8888 == 0x34324258);
static_assert(sizeof(drm_mode_modeinfo) == 68);

// Pointer fields of the request structures are 64-bit numbers.
template <typename T>
uint64_t user_ptr(T* p)
{
    return reinterpret_cast<uintptr_t>(p);
}

inline constexpr uint32_t COMMIT_FLAGS =
    DRM_MODE_PAGE_FLIP_EVENT | DRM_MODE_ATOMIC_NONBLOCK | DRM_MODE_ATOMIC_ALLOW_MODESET;
static_assert(COMMIT_FLAGS == 0x601);

// Issues one request, again while a signal interrupts it or the kernel asks for
// another try (EINTR, EAGAIN), as libdrm's drmIoctl does: a request cut short is
// not a failure. 0, or -1 with errno set.
inline int drm_ioctl(int fd, unsigned long request, void* arg)
{
    int ret;
    do
        ret = ioctl(fd, request, arg);
    while (ret == -1 && (errno == EINTR || errno == EAGAIN));
    return ret;
}

// A request the step cannot go on without: when it fails, the fatal check "!ret" at
// the caller's line, with the request's name and its errno as the reason.
#define DRM_REQUEST(fd, code, arg, function)                                        \
    do {                                                                            \
        const int ret = drm_ioctl((fd), (code), (arg));                             \
        FATAL_CHECK_WHY(!ret, (function), request_failed((fd), #code, errno));      \
    } while (0)
