// Where the outside programs that the utilities start are installed. The paths
// are fixed: the programs take no configuration.
#pragma once

inline constexpr const char PANELSHOW_PATH[] = "/usr/lib/kestrin-display-tools/panelshow";
inline constexpr const char IMAGE_PROGRAM_PATH[] =
    "/usr/lib/kestrin-display-tools/burstkit/panelshow";
inline constexpr const char PANELQUERY_PATH[] = "/usr/lib/kestrin-display-tools/panelquery";
inline constexpr const char LIGHTSOUT_PATH[] = "/usr/bin/lightsout";
