#include "allocator_tuning.hpp"

#include <malloc.h>

void keep_freed_memory_for_reuse() {
    mallopt(M_MMAP_THRESHOLD, mmap_threshold_bytes);
    mallopt(M_TRIM_THRESHOLD, mmap_threshold_bytes);
}
