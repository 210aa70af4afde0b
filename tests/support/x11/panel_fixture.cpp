#include "support/x11/panel_fixture.hpp"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// How long the panel's threads stay asleep, with no processor time spent,
// before it counts as settled: several refresh periods, longer than any
// pause between the frames of one burst.
constexpr auto quiet = 100ms;

// Debian's Wine: the loader of 64-bit programs and its server, not on PATH.
constexpr const char* wine_loader = "/usr/lib/wine/wine64";
constexpr const char* wine_server = "/usr/lib/wine/wineserver";

// The clear colour of the panel's window, (0.45, 0.55, 0.60).
constexpr std::uint32_t background = 0x738C99;

bool near_colour(std::uint32_t a, std::uint32_t b) {
    for (int shift : {0, 8, 16}) {
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 2) return false;
    }
    return true;
}

}  // namespace

std::string PanelFixture::windows_bin_dir() { return VEDRIK_WINDOWS_DIR "/bin"; }

bool PanelFixture::windows_build_present() {
    return std::filesystem::exists(windows_bin_dir() + "/vedrik.exe") && std::filesystem::exists(wine_loader);
}

std::vector<std::string> PanelFixture::wine_command(const std::string& program) {
    if (!wine) {
        wine = std::make_unique<WineSession>();
        wine->prefix = dir.file("wine");
        // A prefix made once for the run (VEDRIK_WINE_TEMPLATE, by
        // scripts/test.sh) is copied; otherwise Wine makes one on first use.
        // The copy links the files of drive_c, which Wine only reads (its
        // DLLs, over 600 MB), and copies the files beside it: the registry,
        // which it rewrites, and the wineserver's lock.
        const char* made = std::getenv("VEDRIK_WINE_TEMPLATE");
        const bool copied = made != nullptr && *made != '\0';
        if (copied) {
            namespace fs = std::filesystem;
            fs::copy(made, wine->prefix,
                     fs::copy_options::recursive | fs::copy_options::copy_symlinks | fs::copy_options::create_hard_links);
            for (const auto& entry : fs::directory_iterator(made)) {
                if (!entry.is_regular_file()) continue;
                const fs::path own = fs::path(wine->prefix) / entry.path().filename();
                fs::remove(own);
                fs::copy_file(entry.path(), own);
            }
        }
        wine->env = {{"WINEPREFIX", wine->prefix}, {"WINEDEBUG", "-all"}, {"DISPLAY", x.display()}};
        // A wineserver of the session's own, started first and kept until
        // the teardown, so that no program of the test owns the session.
        std::string env_text;
        for (const auto& [k, v] : wine->env) env_text += k + "='" + v + "' ";
        run_command(env_text + wine_server + " -p >/dev/null 2>&1");
        if (!copied) run_command(env_text + wine_loader + " wineboot -i >/dev/null 2>&1", nullptr, 120s);
    }
    return {wine_loader, program};
}

PanelFixture::WineSession::~WineSession() {
    run_command("WINEPREFIX='" + prefix + "' " + wine_server + " -k >/dev/null 2>&1");
}

void PanelFixture::start_panel(const std::string& run_name, Layout layout, Build build) {
    run_dir = dir.file(run_name);
    std::filesystem::create_directories(run_dir);
    if (layout == Layout::pinned) {
        std::filesystem::copy_file(std::filesystem::path(VEDRIK_E2E_DIR) / "panel.ini", run_dir + "/imgui.ini",
                                   std::filesystem::copy_options::overwrite_existing);
    }
    std::map<std::string, std::string> env = panel_env;
    env["DISPLAY"] = x.display();
    // VEDRIK_E2E_PANEL: another build of the panel to drive, to compare.
    const char* other = std::getenv("VEDRIK_E2E_PANEL");
    std::vector<std::string> argv{other != nullptr && *other != '\0' ? other : VEDRIK_BINARY};
    if (build == Build::windows) {
        argv = wine_command(windows_programs + "/vedrik.exe");
        env.insert(wine->env.begin(), wine->env.end());
    }
    panel = std::make_unique<ChildProcess>(
        ChildProcess::Options{argv, env, run_dir, run_dir + "/stdout.txt", run_dir + "/stderr.txt"});
    auto found = x.find_window("Vedrik", 20s);
    ASSERT_TRUE(found.has_value()) << panel->stderr_text();
    window = *found;
    origin = x.geometry(window);
    // Near the bottom-right corner no window is drawn in either layout: the
    // background there is the first frame on the screen.
    const PanelRegion corner{origin.width - 10, origin.height - 10, 1, 1};
    ASSERT_TRUE(wait_until(
        [&] {
            const auto p = pixels(corner);
            return p.size() == 1 && near_colour(p[0], background);
        },
        20s))
        << "the window never showed its first frame: " << panel->stderr_text();
    ASSERT_TRUE(settle()) << "the panel never settled after its start";
}

void PanelFixture::start_standin(std::vector<std::string> extra, Build build) {
    std::vector<std::string> argv{STANDIN_BINARY};
    std::map<std::string, std::string> env;
    if (build == Build::windows) {
        argv = wine_command(windows_programs + "/qz3-standin.exe");
        env = wine->env;
    }
    argv.push_back("--quiet");
    argv.insert(argv.end(), extra.begin(), extra.end());
    standin = std::make_unique<ChildProcess>(
        ChildProcess::Options{argv, env, dir.path(), dir.file("standin-out.txt"), dir.file("standin-err.txt")});
    ASSERT_TRUE(wait_until([] { return established(31337) && established(31338); }, 10s))
        << "the stand-in never connected";
}

void PanelFixture::stop_standin() {
    standin->signal(SIGTERM);
    ASSERT_TRUE(standin->wait_for(5s).has_value()) << "the stand-in did not stop";
}

void PanelFixture::attach_component() {
    component = std::make_unique<Endpoint>(component_url, EndpointKind::bus_dial);
    ASSERT_TRUE(component->connect());
    ASSERT_TRUE(component->wait_for_peer(10s));
    // This end attaches once it has the panel's protocol header; the panel's
    // end once it has read this one's.
    ASSERT_TRUE(wait_until([] { return taken_connections(31337) >= 1; }, 10s))
        << "the panel never took the connection";
    const std::string out = panel->stdout_text();
    paced_base_ = std::count(out.begin(), out.end(), '\n');
    paced_sent_ = 0;
}

bool PanelFixture::send_paced(const std::string& sub_type, const Message& data, const std::string& from) {
    constexpr long long ahead = 8;  // half the send queue
    if (!stdout_lines_reach(paced_base_ + paced_sent_ - ahead)) return false;
    component->send(MessageKind::event, sub_type, data, from, "");
    ++paced_sent_;
    return true;
}

std::chrono::nanoseconds PanelFixture::panel_cpu() const { return activity_of(panel->pid()).cpu; }

bool PanelFixture::settle(std::chrono::milliseconds limit) {
    // The X server too: input it has not yet passed on is still to come.
    const auto both = [&] {
        const ProcessActivity p = activity_of(panel->pid()), s = activity_of(x.server_pid());
        return ProcessActivity{p.cpu + s.cpu, p.running || s.running};
    };
    const auto deadline = Clock::now() + limit;
    ProcessActivity last = both();
    auto still_since = Clock::now();
    while (Clock::now() < deadline) {
        if (!panel->running()) return true;
        std::this_thread::sleep_for(5ms);
        const ProcessActivity now = both();
        if (now.running || now.cpu != last.cpu) {
            still_since = Clock::now();
        } else if (Clock::now() - still_since >= quiet) {
            return true;
        }
        last = now;
    }
    return false;
}

void PanelFixture::wait_woken(std::chrono::nanoseconds before, const std::string& step) {
    if (!wait_until([&] { return !panel->running() || panel_cpu() != before; }, 5s)) {
        ADD_FAILURE() << "the panel never woke for " << step;
    }
}

void PanelFixture::click(int dx, int dy, std::chrono::milliseconds settle_limit) {
    const auto before = panel_cpu();
    x.click(origin.x + dx, origin.y + dy);
    wait_woken(before, "the click at " + std::to_string(dx) + "," + std::to_string(dy));
    settle(settle_limit);
}

bool PanelFixture::click_until(int dx, int dy, const std::function<bool()>& shown, const std::string& what) {
    x.click(origin.x + dx, origin.y + dy);
    if (wait_until(shown, 10s)) return true;
    ADD_FAILURE() << "after the click at " << dx << "," << dy << " the window never showed " << what;
    return false;
}

void PanelFixture::park_pointer() {
    const auto before = panel_cpu();
    x.move(origin.x + panel_layout::idle_x, origin.y + panel_layout::idle_y);
    wait_woken(before, "the pointer moving away");
    settle();
}

void PanelFixture::type(const std::string& text) {
    const auto before = panel_cpu();
    x.type(text);
    wait_woken(before, "typing \"" + text + "\"");
    settle();
}

void PanelFixture::press(const std::string& key, PanelRegion watched, std::chrono::milliseconds settle_limit) {
    const auto before = panel_cpu();
    const auto image = pixels(watched);
    x.key(key, [&] { return pixels(watched) != image; }, 1s);
    wait_woken(before, key);
    settle(settle_limit);
}

std::string PanelFixture::console_text() const {
    std::string out = panel->stdout_text();
    std::string lines;
    lines.reserve(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') continue;
        lines += out[i];
    }
    return lines;
}

bool PanelFixture::stdout_has(const std::string& text, std::chrono::milliseconds limit) {
    return wait_until([&] { return console_text().find(text) != std::string::npos; }, limit);
}

bool PanelFixture::stdout_lines_reach(long long lines, std::chrono::milliseconds limit) {
    return wait_until(
        [&] {
            const std::string out = panel->stdout_text();
            return std::count(out.begin(), out.end(), '\n') >= lines;
        },
        limit);
}

int PanelFixture::cell_brightness(int dx, int dy) {
    int brightest = 0;
    for (std::uint32_t p : pixels({dx - 6, dy - 4, 12, 8})) {
        const int r = static_cast<int>((p >> 16) & 0xFF), g = static_cast<int>((p >> 8) & 0xFF),
                  b = static_cast<int>(p & 0xFF);
        brightest = std::max(brightest, (2126 * r + 7152 * g + 722 * b) / 10000);
    }
    return brightest;
}

std::vector<std::uint32_t> PanelFixture::pixels(PanelRegion r) {
    return x.pixels(origin.x + r.x, origin.y + r.y, r.width, r.height);
}

bool PanelFixture::pixels_become(PanelRegion region, const std::vector<std::uint32_t>& expected,
                                 std::chrono::milliseconds limit) {
    return wait_until([&] { return pixels(region) == expected; }, limit);
}

long PanelFixture::differing_pixels(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    long n = static_cast<long>(std::max(a.size(), b.size()) - std::min(a.size(), b.size()));
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) n += a[i] != b[i];
    return n;
}

void PanelFixture::init_im_and_four_steps() {
    using namespace panel_layout;
    constexpr int bright = 200;  // zero bytes are drawn at about half that
    click(init_im_x, init_im_y);
    for (int i = 0; i < 4; ++i) click(step_x, step_y);

    const std::string expected =
        envelope_line("QZ3_MK.instruction_memory", "load", R"({"start":0,"values":[69634,73731,12546,327683]})") +
        envelope_line("QZ3_MK.register_file", "write", R"({"register_number":1,"value":1})") +
        envelope_line("QZ3_MK.data_memory", "write", R"({"address":0,"value":1})") +
        envelope_line("QZ3_MK.register_file", "write", R"({"register_number":3,"value":1})") +
        envelope_line("QZ3_MK.data_memory", "write", R"({"address":0,"value":5})");
    ASSERT_TRUE(stdout_has(expected)) << panel->stdout_text();

    // Drawn in the frame that printed the last of them, or the next.
    wait_until([&] { return cell_brightness(im_byte0_x, im_row0_y) >= bright &&
                            cell_brightness(dm_byte0_x, dm_row0_y) >= bright; },
               5s);
    EXPECT_GE(cell_brightness(im_byte0_x, im_row0_y), bright) << "word 0 = 0x00011002: byte 0 is 02";
    EXPECT_LT(cell_brightness(im_byte3_x, im_row0_y), bright) << "its byte 3 is 00";
    EXPECT_GE(cell_brightness(dm_byte0_x, dm_row0_y), bright) << "data byte 0 is 05";
}

int PanelFixture::quit_and_wait() {
    // "File" sits at the left of the main menu bar; "Quit" is the first item
    // of its menu. Left of the "Main" window the menu covers nothing but the
    // background.
    const PanelRegion quit_item{1, 24, 7, 10};
    const auto closed = pixels(quit_item);
    if (!click_until(18, 9, [&] { return pixels(quit_item) != closed; }, "the File menu")) return -1;
    x.click(origin.x + 28, origin.y + 30);
    auto code = panel->wait_for(10s);
    if (!code) ADD_FAILURE() << "the panel did not end within 10 s of File > Quit";
    return code ? *code : -1;
}

std::string envelope_line(const char* origin, const char* sub_type, const std::string& data) {
    return std::string("{\"data\":") + data + ",\"destination\":\"\",\"message_sub_type\":\"" + sub_type +
           "\",\"message_type\":\"event\",\"origin\":\"" + origin + "\"}\n";
}

std::vector<std::pair<int, int>> printed_writes(const std::string& out, long long& others) {
    std::vector<std::pair<int, int>> writes;
    std::istringstream in(out);
    others = 0;
    for (std::string line; std::getline(in, line);) {
        int address = -1, value = -1;
        if (std::sscanf(line.c_str(), R"({"data":{"address":%d,"value":%d},"destination":"","message_sub_type":"write","message_type":"event","origin":"QZ3_MK.data_memory"})",
                        &address, &value) == 2) {
            writes.emplace_back(address, value);
        } else {
            ++others;
        }
    }
    return writes;
}
