// Descriptors 0, 1 and 2 are never free when a program opens its own files:
// otherwise the DRM device (or a child's pipe) would become standard input and
// its bytes would be read as keys, or the program's messages would land in it.
#pragma once

// Opens /dev/null for each of 0, 1 and 2 that is closed (read-only for 0,
// write-only for 1 and 2). Call first thing in main. Ends the process with
// status 1 when /dev/null cannot be opened.
void open_standard_descriptors();
