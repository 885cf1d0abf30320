// The commit that takes the panels down: CRTC inactive, plane and connector detached.
#pragma once

#include "display/display.h"

// One blocking atomic commit with modesetting allowed: connector CRTC_ID 0; CRTC
// ACTIVE 0 and MODE_ID 0; plane FB_ID 0 and CRTC_ID 0, on the objects and with the
// property ids of h. False when the kernel refuses it (errno says why).
bool displays_off(const display_handle& h);
