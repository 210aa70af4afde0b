// Vedrik: the control panel of the QZ3_MK processor simulator.
// Entry point: brings up SDL2, the "Vedrik" window with its OpenGL context and
// Dear ImGui, runs the frame loop on the main thread and tears it all down.

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <memory>
#include <thread>

#include <SDL.h>
#include <SDL_opengl.h>

#include "display_check.hpp"
#include "first_layout.hpp"
#include "frame.hpp"
#include "imgui.h"
#include "imgui_impl_opengl2.h"
#include "imgui_impl_sdl.h"
#include "loop/frame_input.hpp"
#include "loop/frame_schedule.hpp"
#include "loop/redraw_check.hpp"
#include "loop/wake_signal.hpp"
#include "process_settings.hpp"

namespace {

constexpr int window_width = 1280;
constexpr int window_height = 720;

int display_refresh_hz(SDL_Window* window) {
    SDL_DisplayMode mode{};
    if (SDL_GetWindowDisplayMode(window, &mode) == 0) return mode.refresh_rate;
    return 0;
}

// Waits until the next frame may run: for an SDL event (input, or the
// wake-up a message arrival posts) when the schedule asks for one, then out
// the rest of the refresh period. The event is left in the queue for the
// frame to handle.
void wait_for_next_frame(const FrameSchedule::Next& next) {
    using Clock = FrameSchedule::Clock;
    if (!next.latest) {
        SDL_WaitEvent(nullptr);
    } else if (*next.latest > next.earliest) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next.latest - Clock::now()).count();
        if (left > 0) SDL_WaitEventTimeout(nullptr, static_cast<int>(std::min<long long>(left, INT_MAX)));
    }
    std::this_thread::sleep_until(next.earliest);
}

// True when a quit request waits in SDL's queue: SDL_QUIT from a closed
// window or a signal, which SDL posts as it reads the window system's events.
// The event stays queued for the next frame to take.
bool quit_requested() {
    SDL_PumpEvents();
    return SDL_HasEvent(SDL_QUIT) == SDL_TRUE;
}

}  // namespace

int main(int, char**) {
    // Process-wide settings, with their reasons (process_settings.hpp).
    keep_freed_memory_for_reuse();
    rasterize_on_main_thread();

    // Setup.
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_GAMECONTROLLER) != 0) {
        std::printf("Error: %s\n", SDL_GetError());
        return -1;
    }
    // A window nobody can see is a failure to start, before anything listens.
    if (const auto missing = missing_display()) {
        std::printf("Error: %s\n", missing->c_str());
        std::fflush(stdout);
        SDL_Quit();
        return -1;
    }

    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 2);

    auto window_flags =
        static_cast<SDL_WindowFlags>(SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    SDL_Window* window = SDL_CreateWindow("Vedrik", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                          window_width, window_height, window_flags);
    if (window == nullptr) {
        std::printf("Error: %s\n", SDL_GetError());
        SDL_Quit();
        return -1;
    }
    SDL_GLContext gl_context = SDL_GL_CreateContext(window);
    if (gl_context == nullptr) {
        std::printf("Error: %s\n", SDL_GetError());
        SDL_DestroyWindow(window);
        SDL_Quit();
        return -1;
    }
    SDL_GL_MakeCurrent(window, gl_context);
    SDL_GL_SetSwapInterval(1);
    FrameSchedule schedule(display_refresh_hz(window));
    // SDL polls its joysticks every millisecond while it waits for events
    // if their events are enabled and one is plugged in; the panel takes
    // no joystick input.
    SDL_JoystickEventState(SDL_IGNORE);

    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    ImGui::StyleColorsClassic();
    // Before the first frame, which reads the settings file.
    panel().settings.install_settings_handler();
    load_first_layout_unless_saved();

    ImGui_ImplSDL2_InitForOpenGL(window, gl_context);
    ImGui_ImplOpenGL2_Init();

    const ImVec4 clear_color(0.45f, 0.55f, 0.60f, 1.00f);
    RedrawCheck redraw;
    bool done = false;

    // A message arriving on the bus ends the loop's wait for events. The
    // signal is shared with the endpoint, which outlives this function.
    const auto wake = std::make_shared<WakeSignal>();
    panel().app.hub.bus.set_arrival_notice([wake] { wake->notify(); });

    // A frame takes at most one change of each key and mouse button; the
    // rest wait for the next frames (frame_input.hpp).
    FrameInput input([](SDL_Event& event) { return SDL_PollEvent(&event) != 0; });

    // Main loop.
    while (!done) {
        schedule.frame_started(FrameSchedule::Clock::now());
        input.start_frame();
        bool had_events = false;
        SDL_Event event;
        while (input.next(event)) {
            ImGui_ImplSDL2_ProcessEvent(&event);
            FrameInput::apply_modifiers(event, io);
            if (event.type == SDL_QUIT) done = true;
            if (event.type == SDL_WINDOWEVENT) redraw.invalidate();
            had_events = true;
        }
        // A message that arrives from here on is taken by this frame or
        // wakes the loop's next wait.
        wake->rearm();

        ImGui_ImplOpenGL2_NewFrame();
        ImGui_ImplSDL2_NewFrame();
        input.apply_mouse_buttons(io);
        ImGui::NewFrame();

        run_frame(done);

        ImGui::Render();
        // A frame that looks like the last one drawn is not drawn again: the
        // window still shows it (see redraw_check.hpp). Nor is a frame once a
        // quit is requested, by this frame or by a close that came while it
        // ran: the window is about to go, and drawing it in software only
        // delays the close.
        const bool quitting = done || quit_requested();
        const bool changed = !quitting && redraw.needed(*ImGui::GetDrawData());
        if (changed) {
            glViewport(0, 0, static_cast<int>(io.DisplaySize.x), static_cast<int>(io.DisplaySize.y));
            glClearColor(clear_color.x, clear_color.y, clear_color.z, clear_color.w);
            glClear(GL_COLOR_BUFFER_BIT);
            ImGui_ImplOpenGL2_RenderDrawData(ImGui::GetDrawData());
            SDL_GL_SwapWindow(window);
        }
        schedule.frame_ended(FrameSchedule::Clock::now(), had_events, changed, panel().next_fade_step());
        // Input that waits for its frame gets it at once.
        if (!quitting && !input.holding()) wait_for_next_frame(schedule.next());
    }

    // Cleanup. Arrivals from now on, until the endpoints close at process
    // exit, post nothing.
    wake->disable();
    ImGui_ImplOpenGL2_Shutdown();
    ImGui_ImplSDL2_Shutdown();
    ImGui::DestroyContext();
    SDL_GL_DeleteContext(gl_context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
