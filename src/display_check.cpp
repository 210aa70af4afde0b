#include "display_check.hpp"

#include <cstdlib>
#include <cstring>

#include <SDL.h>

namespace {

// SDL's video drivers that show no window.
constexpr const char* unseen_drivers[] = {"offscreen", "dummy"};

std::string display_named(const char* variable, const char* what) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') return {};
    return std::string("the ") + what + " \"" + value + "\" (" + variable + ")";
}

}  // namespace

std::optional<std::string> missing_display() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver == nullptr) return std::nullopt;
    bool unseen = false;
    for (const char* name : unseen_drivers) unseen = unseen || std::strcmp(driver, name) == 0;
    if (!unseen) return std::nullopt;
    const char* chosen = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (chosen != nullptr && *chosen != '\0') return std::nullopt;

    const std::string x11 = display_named("DISPLAY", "X display");
    const std::string wayland = display_named("WAYLAND_DISPLAY", "Wayland display");
    std::string sentence = "no display to show the window on: ";
    if (x11.empty() && wayland.empty()) return sentence + "DISPLAY is not set";
    if (!x11.empty() && !wayland.empty()) return sentence + x11 + " and " + wayland + " do not answer";
    return sentence + (x11.empty() ? wayland : x11) + " does not answer";
}
