#pragma once
// The process-wide settings vedrik makes before anything else runs, each
// with the reason it was measured for. The stand-in and the benchmarks make
// the same allocator setting, so that they measure what the panel does.
// Call them first thing in main, before any thread starts.

// Keeps memory the process freed for its next allocations.
//
// A ping with 10000 values decodes into a JSON array of about 160 kB and the
// panel builds and frees values of that size a thousand times in a row. By
// default glibc serves such blocks with mmap and gives them back on free, so
// every one costs a fresh set of page faults, which on a virtual machine is
// several times the JSON work itself (bench/README.md has the figures).
//
// Raises glibc's mmap and trim thresholds to mmap_threshold_bytes, so blocks
// below it come from the heap and at most that much free heap is kept.
void keep_freed_memory_for_reuse();

inline constexpr int mmap_threshold_bytes = 4 << 20;

// Mesa's software rasterizer (llvmpipe, under Xvfb and without a GPU) starts
// one rasterizer thread per processor and hands every drawn frame to them;
// the panel's frames are small, and for them the hand-off costs more than it
// saves: a drawn panel frame costs about the same processor time either way,
// and the threads' wake-ups come on top. Sets LP_NUM_THREADS=0,
// rasterizing on the main thread, unless the user chose otherwise; other
// drivers ignore the variable. Before SDL_Init.
void rasterize_on_main_thread();
