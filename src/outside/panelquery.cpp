// Stand-in for the device's panelquery. This system has no way to read the
// panels' manufacturing data, so it says so and gives no numbers: panelinfo then
// prints its no-data lines instead of made-up identification.
#include <cstdio>

int main()
{
    std::fputs("panelquery: this system has no source of the panels' manufacturing data\n",
               stderr);
    return 1;
}
