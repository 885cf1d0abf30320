// The decoder's implementation, compiled once, in its default configuration
// (on Arm the build defines STBI_NEON: stb_image uses the vector unit only when asked).
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
