#include "process_settings.hpp"

#include <cstdlib>

#include <malloc.h>

void keep_freed_memory_for_reuse() {
    mallopt(M_MMAP_THRESHOLD, mmap_threshold_bytes);
    mallopt(M_TRIM_THRESHOLD, mmap_threshold_bytes);
}

void rasterize_on_main_thread() { setenv("LP_NUM_THREADS", "0", 0); }
