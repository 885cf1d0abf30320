#include "image/image_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

size_t read_fully(image_source& src, unsigned char* dst, size_t n)
{
    const ssize_t got = read_until_full(src.fd, dst, n);
    if (got < 0) {
        src.read_failed = true;
        src.read_error = errno;
    }
    return got < 0 ? 0 : static_cast<size_t>(got);
}

} // namespace

ssize_t read_until_full(int fd, unsigned char* dst, size_t n)
{
    size_t got = 0;
    while (got < n) {
        const ssize_t r = read(fd, dst + got, n - got);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && got == 0)
            return -1;
        if (r <= 0)
            break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

void source_read_head(image_source& src)
{
    src.head_len = read_fully(src, src.head, sizeof src.head);
    src.head_pos = 0;
}

bool source_next_block(image_source& src)
{
    if (src.head_pos < src.head_len)
        return true;
    source_read_head(src);
    return src.head_len > 0;
}

size_t source_read(image_source& src, void* dst, size_t n)
{
    auto* out = static_cast<unsigned char*>(dst);
    const size_t from_head = std::min(n, src.head_len - src.head_pos);
    std::memcpy(out, src.head + src.head_pos, from_head);
    src.head_pos += from_head;
    if (from_head == n)
        return n;
    return from_head + read_fully(src, out + from_head, n - from_head);
}
