// Decoders that write rows straight into the mapped framebuffer, in the byte
// order the plane scans out, without a full-size image of their own.
//
// Each decoder's library reports errors by longjmp. The jumps stay inside the
// decoder's own .cpp: every function there that calls the library sets its jump
// target first and owns nothing with a destructor, and the reader record is
// plain data. Callers own the reader (reader_ptr) and run the fatal checks
// between the calls, outside any jump's reach.
#pragma once

#include "image/image_source.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// Byte order of a framebuffer pixel: XB24 is red, green, blue, X; XR24 is blue,
// green, red, X.
enum class pixel_order { xb24, xr24 };

struct frame_rows {
    unsigned char* map;
    size_t pitch;
    uint32_t width;
    uint32_t height;
    pixel_order order;
};

struct decoder_reader;

struct row_decoder {
    const char* name; // in "error loading image <path> with <name>, <reason>"
    // Starts reading src (which must outlive the reader); nullptr when out of memory.
    decoder_reader* (*open)(image_source& src);
    void (*close)(decoder_reader* r);
    // Reads the header only. false: the decoder rejected the file (see reason).
    bool (*read_size)(decoder_reader* r, uint32_t& width, uint32_t& height);
    // Decodes the whole image into out, whose size matches the header's.
    bool (*read_rows)(decoder_reader* r, const frame_rows& out);
    const char* (*reason)(const decoder_reader* r);
};

extern const row_decoder JPEG_DECODER; // libjpeg-turbo
extern const row_decoder PNG_DECODER;  // libpng

struct reader_closer {
    const row_decoder* decoder;
    void operator()(decoder_reader* r) const { decoder->close(r); }
};
using reader_ptr = std::unique_ptr<decoder_reader, reader_closer>;
