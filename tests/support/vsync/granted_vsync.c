/* Preloaded into vedrik (LD_PRELOAD) to make it see a display whose driver
 * grants vsync, as a desktop GPU's does, where the test machine's software
 * renderer refuses it: setting the swap interval succeeds, and every buffer
 * swap returns at the next tick of a 60 Hz clock, as a swap waits for the
 * next refresh. */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <time.h>

#include <SDL.h>

static const long long refresh_ns = 1000000000LL / 60;

int SDL_GL_SetSwapInterval(int interval) {
    (void)interval;
    return 0;
}

int SDL_GL_GetSwapInterval(void) { return 1; }

void SDL_GL_SwapWindow(SDL_Window* window) {
    static void (*real_swap)(SDL_Window*);
    if (real_swap == NULL) *(void**)&real_swap = dlsym(RTLD_NEXT, "SDL_GL_SwapWindow");
    real_swap(window);

    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long ns = (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
    long long tick = (ns / refresh_ns + 1) * refresh_ns;
    struct timespec until = {(time_t)(tick / 1000000000LL), (long)(tick % 1000000000LL)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL) != 0) {
    }
}
