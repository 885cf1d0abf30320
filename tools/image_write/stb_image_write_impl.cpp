// The encoder used by the tools and tests to write sample images, compiled once.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
