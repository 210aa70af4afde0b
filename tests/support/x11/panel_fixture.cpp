#include "panel_fixture.hpp"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace std::chrono_literals;

void PanelFixture::start_panel(const std::string& run_name) {
    run_dir = dir.file(run_name);
    std::filesystem::create_directories(run_dir);
    std::filesystem::copy_file(std::filesystem::path(VEDRIK_E2E_DIR) / "panel.ini", run_dir + "/imgui.ini",
                               std::filesystem::copy_options::overwrite_existing);
    std::map<std::string, std::string> env = panel_env;
    env["DISPLAY"] = x.display();
    panel = std::make_unique<ChildProcess>(
        ChildProcess::Options{{VEDRIK_BINARY}, env, run_dir, run_dir + "/stdout.txt", run_dir + "/stderr.txt"});
    auto found = x.find_window("Vedrik", 20s);
    ASSERT_TRUE(found.has_value()) << panel->stderr_text();
    window = *found;
    origin = x.geometry(window);
}

void PanelFixture::start_standin(std::vector<std::string> extra) {
    std::vector<std::string> argv{STANDIN_BINARY, "--quiet"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    standin = std::make_unique<ChildProcess>(
        ChildProcess::Options{argv, {}, dir.path(), dir.file("standin-out.txt"), dir.file("standin-err.txt")});
    ASSERT_TRUE(wait_until([] { return established(31337) && established(31338); }, 10s))
        << "the stand-in never connected";
}

void PanelFixture::stop_standin() {
    standin->signal(SIGTERM);
    ASSERT_TRUE(standin->wait_for(5s).has_value()) << "the stand-in did not stop";
}

void PanelFixture::attach_component() {
    component = std::make_unique<PeerSocket>(PeerSocket::Protocol::bus, component_url);
    ASSERT_TRUE(component->dial());
    ASSERT_TRUE(component->wait_for_peer(10s));
    // The panel's end of the pipe attaches a moment after this one.
    std::this_thread::sleep_for(200ms);
}

bool PanelFixture::established(int port) {
    std::string out;
    run_command("ss -Htn state established \"( sport = :" + std::to_string(port) + " )\"", &out);
    return !out.empty();
}

void PanelFixture::click(int dx, int dy) { x.click(origin.x + dx, origin.y + dy); }

void PanelFixture::park_pointer() {
    x.run("xdotool mousemove " + std::to_string(origin.x + panel_layout::idle_x) + " " +
          std::to_string(origin.y + panel_layout::idle_y));
    std::this_thread::sleep_for(200ms);
}

bool PanelFixture::stdout_has(const std::string& text, std::chrono::milliseconds limit) {
    return wait_until([&] { return panel->stdout_text().find(text) != std::string::npos; }, limit);
}

int PanelFixture::cell_brightness(const std::string& shot, int dx, int dy) {
    std::string out;
    run_command("convert " + shot + " -crop 12x8+" + std::to_string(origin.x + dx - 6) + "+" +
                    std::to_string(origin.y + dy - 4) + " -colorspace Gray -format '%[fx:int(255*maxima)]' info:",
                &out);
    return std::atoi(out.c_str());
}

bool PanelFixture::crop(const std::string& shot, PanelRegion r, const std::string& out) {
    return run_command("convert " + shot + " -crop " + std::to_string(r.width) + "x" + std::to_string(r.height) + "+" +
                       std::to_string(origin.x + r.x) + "+" + std::to_string(origin.y + r.y) + " +repage " + out) == 0;
}

std::vector<std::uint32_t> PanelFixture::pixels(PanelRegion r) {
    return x.pixels(origin.x + r.x, origin.y + r.y, r.width, r.height);
}

bool PanelFixture::pixels_change(PanelRegion region, const std::vector<std::uint32_t>& before,
                                 std::chrono::milliseconds limit) {
    return wait_until([&] { return pixels(region) != before; }, limit);
}

long PanelFixture::differing_pixels(const std::string& a, const std::string& b) {
    // compare prints the count on standard error and exits 1 when they differ.
    std::string out;
    int code = run_command("compare -metric AE " + a + " " + b + " null: 2>&1", &out);
    if (code != 0 && code != 1) return -1;
    return std::atol(out.c_str());
}

long PanelFixture::status_kb(const char* field) {
    std::ifstream status("/proc/" + std::to_string(panel->pid()) + "/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
    }
    return -1;
}

int PanelFixture::quit_and_wait() {
    click(18, 9);
    click(28, 30);
    auto code = panel->wait_for(10s);
    return code ? *code : -1;
}

std::string envelope_line(const char* origin, const char* sub_type, const std::string& data) {
    return std::string("{\"data\":") + data + ",\"destination\":\"\",\"message_sub_type\":\"" + sub_type +
           "\",\"message_type\":\"event\",\"origin\":\"" + origin + "\"}\n";
}
