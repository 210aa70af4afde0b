// The Debian package made by CPack from this build tree, and an install of
// the tree into a scratch prefix: the package declares the libraries the
// programs link as its dependencies and carries the documentation, and the
// panel from either starts, shows its window in its first layout and keeps
// its settings in its working directory.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

#include "first_layout.hpp"
#include "support/child_process.hpp"
#include "support/x11/x_session.hpp"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The value of one field of dpkg-deb -I's output ("Depends"), or "".
std::string control_field(const std::string& info, const std::string& name) {
    std::istringstream lines(info);
    const std::string key = " " + name + ": ";
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(key, 0) == 0) return line.substr(key.size());
    }
    return {};
}

// Starts the panel program in an empty folder of dir, closes it and checks
// the imgui.ini it wrote there: the windows where the first layout put them.
void expect_opens_in_first_layout(const std::string& program, const TempDir& dir) {
    XSession x;
    fs::create_directories(dir.file("run"));
    ChildProcess panel({{program}, {{"DISPLAY", x.display()}}, dir.file("run"), dir.file("out"), dir.file("err")});
    auto window = x.find_window("Vedrik", 20s);
    ASSERT_TRUE(window.has_value()) << panel.stderr_text();
    ASSERT_TRUE(x.close_window(*window));
    EXPECT_EQ(panel.wait_for(10s), 0) << panel.stderr_text();
    std::ifstream ini(dir.file("run/imgui.ini"));
    ASSERT_TRUE(ini.good()) << "its settings stay in its working directory";
    const std::string saved((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
    // Each window where the first layout puts it (the memory windows fit
    // their width to the editor's columns).
    std::istringstream layout(first_layout_ini);
    for (std::string line; std::getline(layout, line);) {
        if (line.rfind("[Window]", 0) != 0) continue;
        std::string pos;
        std::getline(layout, pos);
        EXPECT_NE(saved.find(line + "\n" + pos + "\n"), std::string::npos) << line << " " << pos << " in\n" << saved;
    }
}

TEST(Package, DeclaresItsLibrariesAndItsPanelStartsFromAnUnpackedRoot) {
    TempDir dir;
    // CPack installs the build tree into a staging folder of its own and
    // runs dpkg-shlibdeps on what it installed.
    std::string out;
    ASSERT_EQ(run_command("cpack --config " VEDRIK_CPACK_CONFIG " -G DEB -B " + dir.file("pack") + " 2>&1", &out,
                          std::chrono::seconds(240)),
              0)
        << out;
    fs::path deb;
    for (const auto& entry : fs::directory_iterator(dir.file("pack"))) {
        if (entry.path().extension() == ".deb") deb = entry.path();
    }
    ASSERT_FALSE(deb.empty()) << out;

    std::string info;
    ASSERT_EQ(run_command("dpkg-deb -I " + deb.string(), &info), 0);
    const std::string depends = control_field(info, "Depends");
    EXPECT_NE(depends.find("libsdl2"), std::string::npos) << info;
    EXPECT_NE(depends.find("libnng"), std::string::npos) << info;
    EXPECT_NE(depends.find("libc6"), std::string::npos) << info;
    std::cout << "Depends: " << depends << std::endl;

    const std::string root = dir.file("root");
    ASSERT_EQ(run_command("dpkg-deb -x " + deb.string() + " " + root), 0);
    for (const char* program : {"/usr/bin/vedrik", "/usr/bin/qz3-standin"}) {
        EXPECT_TRUE(fs::exists(root + program)) << program;
    }

    for (const char* doc : {"/usr/share/doc/vedrik/copyright", "/usr/share/doc/vedrik/README.md",
                            "/usr/share/doc/vedrik/docs/panel.png",
                            "/usr/share/doc/vedrik/examples/minimal_simulator.cpp"}) {
        EXPECT_TRUE(fs::exists(root + doc)) << doc;
    }
    // The example builds from the documentation folder with the README's command.
    std::string command;
    std::istringstream readme(read_file(VEDRIK_SOURCE_DIR "/README.md"));
    for (std::string line; std::getline(readme, line);) {
        if (line.rfind("    c++ ", 0) == 0) command = line.substr(4);
    }
    const std::string doc = "/usr/share/doc/vedrik/";
    const auto at = command.find(doc);
    ASSERT_NE(at, std::string::npos) << "the README's command that builds the packaged example";
    command.replace(at, doc.size(), root + doc);
    ASSERT_EQ(run_command("cd " + dir.path() + " && " + command + " 2>&1", &out, std::chrono::seconds(240)), 0)
        << command << "\n" << out;
    EXPECT_TRUE(fs::exists(dir.file("minimal-simulator")));

    expect_opens_in_first_layout(root + "/usr/bin/vedrik", dir);
}

TEST(Package, AnInstallIntoAPrefixOpensInTheFirstLayout) {
    TempDir dir;
    std::string out;
    ASSERT_EQ(run_command("cmake --install " VEDRIK_BUILD_DIR " --prefix " + dir.file("prefix") + " 2>&1", &out), 0)
        << out;
    EXPECT_TRUE(fs::exists(dir.file("prefix/share/doc/vedrik/copyright")));
    expect_opens_in_first_layout(dir.file("prefix/bin/vedrik"), dir);
}

}  // namespace
