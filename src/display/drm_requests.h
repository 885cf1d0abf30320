// Kernel DRM interface: the uapi headers and the request codes we rely on.
#pragma once

#include <drm.h>
#include <drm_fourcc.h>
#include <drm_mode.h>

#include <cstdint>

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
