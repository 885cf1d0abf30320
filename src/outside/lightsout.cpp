// Stand-in for the device's lightsout: backlight off, then one atomic commit that
// switches the CRTC off and detaches plane and connector, so the panels go dark.
#include "common/backlight.h"
#include "display/display.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

int main()
{
    backlight_set(0);

    display_handle h{};
    display_init(h, LIGHTSOUT_DISPLAY);
    if (!displays_off(h)) {
        std::printf("lightsout: could not switch the displays off: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}
