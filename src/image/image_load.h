// panelshow's content step: the image goes into the mapped buffer before the
// framebuffer is registered.
#pragma once

#include "display/display.h"

#include <cstdint>

// Raw frames: names that end in ".rgb" (case-sensitive), longer than 3 characters.
bool is_raw_frame_path(const char* path);

// Writes the image into fb.map (rows at fb.pitch) and returns the pixel format to
// register. Every failure is a fatal check reported as display_create_fb.
uint32_t load_image(const display_handle& h, const display_fb& fb, const char* path);
