// The image fuzz target's decoder allocates through these, so that what a failed
// load leaves behind (the program leaves it to the process exit) can be freed
// between inputs, and a block left behind by a successful load is caught.
#pragma once

#include <cstddef>

extern "C" {
void* stb_tracking_malloc(size_t size);
void* stb_tracking_realloc(void* p, size_t size);
void stb_tracking_free(void* p);
}

void stb_tracking_begin();
// Aborts, naming the count, if any block is still allocated.
void stb_tracking_expect_none_live();
void stb_tracking_free_live();
