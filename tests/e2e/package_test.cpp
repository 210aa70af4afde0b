// The Debian package made by CPack from this build tree: it declares the
// libraries the programs link as its dependencies, and the panel unpacked
// from it starts and shows its window.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

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

    XSession x;
    fs::create_directories(dir.file("run"));
    ChildProcess panel({{root + "/usr/bin/vedrik"}, {{"DISPLAY", x.display()}}, dir.file("run"), dir.file("out"),
                        dir.file("err")});
    auto window = x.find_window("Vedrik", 20s);
    ASSERT_TRUE(window.has_value()) << panel.stderr_text();
    ASSERT_TRUE(x.close_window(*window));
    EXPECT_EQ(panel.wait_for(10s), 0) << panel.stderr_text();
    EXPECT_TRUE(fs::exists(dir.file("run/imgui.ini"))) << "its settings stay in its working directory";
}

}  // namespace
