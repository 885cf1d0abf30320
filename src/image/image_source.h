// The image file, read once from the start: a first block kept in memory for
// telling the format and reading stb_image's headers, then the rest straight from
// the descriptor. Pipes and FIFOs work as files do: nothing is reopened or sought.
#pragma once

#include <cstddef>
#include <sys/types.h>

// Holds every header stb_image reads to size an image.
constexpr size_t IMAGE_HEAD_MAX = 64 * 1024;

// Plain data: the decoders' error paths may jump over any frame that holds one.
struct image_source {
    int fd = -1;
    unsigned char head[IMAGE_HEAD_MAX];
    size_t head_len = 0; // bytes of the file in head
    size_t head_pos = 0; // bytes of head already handed out
    bool read_failed = false;
    int read_error = 0; // errno of the failed read
};

// Reads until n bytes arrived or the file ended: a FIFO or pipe hands out at most
// its buffer per read. The bytes read, or -1 when the first read failed.
ssize_t read_until_full(int fd, unsigned char* dst, size_t n);

// Fills head with the file's first bytes (fewer only when the file ends first).
void source_read_head(image_source& src);

// Once head has been handed out, the file's next block goes into it: false at the
// end of the file (or a read error, which sets read_failed).
bool source_next_block(image_source& src);

// Copies up to n bytes, head first, reading until n bytes arrived or the file
// ended; a read error ends it too and sets read_failed.
size_t source_read(image_source& src, void* dst, size_t n);
