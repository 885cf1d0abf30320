// panelshow's decode path before JPEG and PNG moved to libjpeg-turbo and libpng:
// stb_image sizes the file by path, decodes it whole into its own block, and the
// block is copied into the mapping. Linked into a benchmark-only panelshow, so the
// start-to-picture figures of both paths come from the same run.
#include "common/fatal.h"
#include "image/image_load.h"

#include <cstdio>
#include <cstring>
#include <stb/stb_image.h>

bool is_raw_frame_path(const char*)
{
    return false;
}

uint32_t load_image(const display_handle&, const display_fb& fb, const char* path)
{
    int width = 0;
    int height = 0;
    int channels = 0;
    if (stbi_info(path, &width, &height, &channels))
        FATAL_CHECK(width == MODE_WIDTH && height == MODE_HEIGHT, "display_create_fb");
    unsigned char* data = stbi_load(path, &width, &height, &channels, 4);
    if (!data)
        std::printf("error loading image %s with stb_image, %s\n", path, stbi_failure_reason());
    FATAL_CHECK(data != 0, "display_create_fb");
    std::memcpy(fb.map, data, size_t{MODE_WIDTH} * MODE_HEIGHT * 4);
    stbi_image_free(data);
    return FORMAT_XB24;
}
