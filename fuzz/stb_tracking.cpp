// The decoder in its default configuration, but allocating through a table of
// live blocks (see stb_tracking.h). Decoding behaves exactly as in the program.
#include "stb_tracking.h"

#include <cstdio>
#include <cstdlib>
#include <unordered_set>

namespace {

std::unordered_set<void*>& live()
{
    static std::unordered_set<void*> blocks;
    return blocks;
}

} // namespace

extern "C" {

void* stb_tracking_malloc(size_t size)
{
    void* p = std::malloc(size);
    if (p)
        live().insert(p);
    return p;
}

void* stb_tracking_realloc(void* p, size_t size)
{
    void* q = std::realloc(p, size);
    if (q) {
        live().erase(p);
        live().insert(q);
    }
    return q;
}

void stb_tracking_free(void* p)
{
    if (p)
        live().erase(p);
    std::free(p);
}

} // extern "C"

void stb_tracking_begin()
{
    live().clear();
}

void stb_tracking_expect_none_live()
{
    if (live().empty())
        return;
    std::fprintf(stderr, "the decoder left %zu block(s) allocated after a successful load\n",
                 live().size());
    std::abort();
}

void stb_tracking_free_live()
{
    for (void* p : live())
        std::free(p);
    live().clear();
}

#define STBI_MALLOC(size) stb_tracking_malloc(size)
#define STBI_REALLOC(p, size) stb_tracking_realloc(p, size)
#define STBI_FREE(p) stb_tracking_free(p)
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
