#include "process_settings.hpp"

#include <cstdlib>

#ifndef _WIN32
#include <malloc.h>
#endif

// Both settings are glibc's and Mesa's: on Windows the C library's heap has
// no such thresholds, and the OpenGL driver is the system's (under Wine,
// Mesa reads the environment Wine itself was started with).

void keep_freed_memory_for_reuse() {
#ifndef _WIN32
    mallopt(M_MMAP_THRESHOLD, mmap_threshold_bytes);
    mallopt(M_TRIM_THRESHOLD, mmap_threshold_bytes);
#endif
}

void rasterize_on_main_thread() {
#ifndef _WIN32
    setenv("LP_NUM_THREADS", "0", 0);
#endif
}
