// The Windows build of the panel (build-windows, made by scripts/windows.sh)
// under Wine on Xvfb, on the panel's fixed ports: it opens and draws, listens
// on 127.0.0.1 only, takes the Linux stand-in's and the Windows stand-in's
// events, ends with 0 by File > Quit and by a window close; and the Windows
// package, unpacked into an empty folder, starts. Skipped while there is no
// Windows build.
//
// What Wine cannot tell is not tested here: how long a close takes (a bare
// SDL2 window under Wine takes about 2 s to end) and the Windows console host.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "support/x11/panel_fixture.hpp"

namespace {

using namespace std::chrono_literals;
using namespace panel_layout;

constexpr int bright = 200;  // zero bytes are drawn at about half that

class WindowsPanel : public PanelFixture {
protected:
    void SetUp() override {
        if (!windows_build_present()) GTEST_SKIP() << "no Windows build in " << windows_bin_dir();
    }
};

// The local addresses of the TCP sockets listening on a port, as the kernel
// lists them ("0100007F" is 127.0.0.1).
std::multiset<std::string> listening_addresses(int port) {
    std::multiset<std::string> addresses;
    for (const TcpSocket& s : tcp_sockets(port)) {
        if (s.state == TcpSocket::listen) addresses.insert(s.local_address);
    }
    return addresses;
}

TEST_F(WindowsPanel, OpensDrawsListensOnLoopbackOnlyAndEndsWithZeroOnAWindowClose) {
    start_panel("windows", Layout::fresh, Build::windows);
    EXPECT_EQ(origin.width, 1280);
    EXPECT_EQ(origin.height, 720);
    // The menu bar and the first windows are drawn over the background.
    const auto top = pixels({0, 0, 400, 120});
    const std::set<std::uint32_t> colours(top.begin(), top.end());
    EXPECT_GT(colours.size(), 4u) << "nothing drawn at the top of the window";

    // Under Wine the window may show a few seconds before the panel listens.
    ASSERT_TRUE(wait_until([] { return !listening_addresses(31337).empty() && !listening_addresses(31338).empty(); },
                           20s));
    EXPECT_EQ(listening_addresses(31337), std::multiset<std::string>{"0100007F"});
    EXPECT_EQ(listening_addresses(31338), std::multiset<std::string>{"0100007F"});

    ASSERT_TRUE(x.close_window(window));
    EXPECT_EQ(panel->wait_for(20s), 0) << panel->stderr_text();
}

TEST_F(WindowsPanel, LinuxStandinsInitImAndFourStepsArriveAndShowAndFileQuitEndsWithZero) {
    start_panel("windows", Layout::pinned, Build::windows);
    start_standin();
    // Its console lines end in CRLF; stdout_has reads them as lines.
    init_im_and_four_steps();
    EXPECT_EQ(quit_and_wait(), 0) << panel->stderr_text();
}

TEST_F(WindowsPanel, WindowsStandinsDemoShowsAndEveryFloodedEventArrives) {
    start_panel("windows", Layout::pinned, Build::windows);
    start_standin({"--demo"}, Build::windows);
    // The demo loads its program when the panel attaches, then steps.
    ASSERT_TRUE(stdout_has(R"(,"message_sub_type":"load","message_type":"event","origin":"QZ3_MK.instruction_memory"})"))
        << panel->stdout_text();
    ASSERT_TRUE(stdout_has(R"(,"message_sub_type":"write","message_type":"event","origin":"QZ3_MK.register_file"})"))
        << panel->stdout_text();
    EXPECT_TRUE(wait_until([&] { return cell_brightness(im_byte0_x, im_row0_y) >= bright; }, 5s))
        << "the demo's program is not shown";
    stop_standin();

    constexpr long long events = 5000;
    const std::size_t before = console_text().size();
    start_standin({"--flood", std::to_string(events)}, Build::windows);
    EXPECT_TRUE(wait_until(
        [&] {
            long long others = 0;
            return static_cast<long long>(printed_writes(console_text().substr(before), others).size()) >= events;
        },
        60s));
    long long others = 0;
    const auto writes = printed_writes(console_text().substr(before), others);
    long long in_order = 0;
    while (in_order < static_cast<long long>(writes.size()) &&
           writes[static_cast<std::size_t>(in_order)] ==
               std::make_pair(static_cast<int>(in_order % 256), static_cast<int>((in_order / 256) % 256))) {
        ++in_order;
    }
    EXPECT_EQ(static_cast<long long>(writes.size()), events);
    EXPECT_EQ(in_order, events);
    EXPECT_EQ(quit_and_wait(), 0) << panel->stderr_text();
}

// The zip that cpack makes (scripts/windows.sh), unpacked into an empty
// folder: what it holds, and the panel started from there shows its window.
TEST_F(WindowsPanel, PackageUnpackedIntoAnEmptyFolderStartsThePanel) {
    std::string zip;
    for (const auto& entry : std::filesystem::directory_iterator(VEDRIK_WINDOWS_DIR)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("vedrik-", 0) == 0 && name.size() > 10 && name.substr(name.size() - 10) == "-win64.zip") {
            zip = entry.path().string();
        }
    }
    ASSERT_FALSE(zip.empty()) << "no vedrik-<version>-win64.zip in " << VEDRIK_WINDOWS_DIR;
    const std::string unpacked = dir.file("unpacked");
    std::filesystem::create_directories(unpacked);
    ASSERT_EQ(run_command("cd '" + unpacked + "' && cmake -E tar xf '" + zip + "'"), 0);

    // One folder named after the zip, with the programs, the DLL and the texts.
    const std::string top = std::filesystem::path(zip).stem().string();
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(unpacked)) {
        if (entry.is_regular_file()) files.insert(std::filesystem::relative(entry.path(), unpacked).string());
    }
    EXPECT_EQ(files, (std::set<std::string>{top + "/README.txt", top + "/SDL2.dll", top + "/qz3-standin.exe",
                                            top + "/run-demo.bat", top + "/vedrik.exe"}));

    windows_programs = unpacked + "/" + top;
    start_panel("package", Layout::fresh, Build::windows);
    EXPECT_EQ(origin.width, 1280);
}

}  // namespace
