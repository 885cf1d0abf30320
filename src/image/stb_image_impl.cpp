// The decoder's implementation, compiled once, in its default configuration.
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
