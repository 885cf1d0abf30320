// What the headers of stb_image's formats mean where the decoder does not follow
// them: valid variants it refuses under other words or would show other than the
// file defines them, and PNM samples, which count up to the header's maximum.
#pragma once

#include "image/image_source.h"

#include <cstddef>

// In words, the variant of the file's format that stb_image cannot show as the
// file defines it ("RLE-compressed BMP"), or nullptr. A TGA has no signature: it
// is looked at only when `tga` says the decoder took the file for one.
const char* stb_unsupported_variant(const image_source& src, bool tga);

// The maximum sample of a binary PGM or PPM, read from its header as stb_image
// reads it; -1 for any other file.
long pnm_maximum(const image_source& src);

// Netpbm counts every sample from 0 to the header's maximum: red, green and blue
// of `pixels` RGBA pixels are scaled to 0..255, rounded. false when a sample is
// above the maximum (the file is not valid).
bool scale_pnm_samples(unsigned char* rgba, size_t pixels, long maximum);
