// The windows' first layout: with no imgui.ini it is the layout the
// end-to-end tests pin (tests/e2e/panel.ini, the README's screenshot); an
// imgui.ini that exists wins over it; and what the user moves is kept in
// imgui.ini and found there on the next start.

#include "first_layout.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "messaging/wire_names.hpp"
#include "pinned_layout.hpp"
#include "support/child_process.hpp"
#include "support/headless_imgui.hpp"

namespace {

struct Placement {
    ImVec2 pos, size;
};

// The panel's windows, in its drawing order.
const std::string windows[] = {"Main", std::string(wire::local_register_file),
                               std::string(wire::local_instruction_memory), std::string(wire::local_data_memory),
                               "Settings"};

// Where the current context puts the panel's windows: two frames, the
// first of which lays them out.
std::map<std::string, Placement> placements(HeadlessImGui& ui) {
    std::map<std::string, Placement> found;
    ui.set_draw([&] {
        for (const std::string& name : windows) {
            ImGui::Begin(name.c_str());
            found[name] = {ImGui::GetWindowPos(), ImGui::GetWindowSize()};
            ImGui::End();
        }
    });
    ui.frames(2);
    return found;
}

void expect_at(const Placement& p, ImVec2 pos, ImVec2 size, const std::string& name) {
    EXPECT_EQ(p.pos.x, pos.x) << name;
    EXPECT_EQ(p.pos.y, pos.y) << name;
    EXPECT_EQ(p.size.x, size.x) << name;
    EXPECT_EQ(p.size.y, size.y) << name;
}

class FirstLayout : public testing::Test {
protected:
    // A context whose settings file is dir's imgui.ini, given the first
    // layout as the panel's start-up does.
    std::unique_ptr<HeadlessImGui> start() {
        auto ui = std::make_unique<HeadlessImGui>();
        ImGui::GetIO().IniFilename = ini_path.c_str();
        load_first_layout_unless_saved();
        return ui;
    }

    TempDir dir;
    std::string ini_path = dir.file("imgui.ini");
};

TEST_F(FirstLayout, WithoutImguiIniTheWindowsOpenWhereTheTestsPinThem) {
    HeadlessImGui pinned;
    ImGui::LoadIniSettingsFromMemory(pinned_layout);
    const auto expected = placements(pinned);

    auto ui = start();
    const auto first = placements(*ui);
    for (const std::string& name : windows) {
        expect_at(first.at(name), expected.at(name).pos, expected.at(name).size, name);
    }
    // Side by side inside the 1280 x 720 window, none left where Dear ImGui
    // puts a window it knows nothing of.
    for (const auto& [name, p] : first) {
        EXPECT_LE(p.pos.x + p.size.x, 1280.0f) << name;
        EXPECT_LE(p.pos.y + p.size.y, 720.0f) << name;
        EXPECT_FALSE(p.pos.x == 60.0f && p.pos.y == 60.0f) << name;
    }
}

TEST_F(FirstLayout, AnImguiIniThatExistsWins) {
    std::FILE* file = std::fopen(ini_path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("[Window][Main]\nPos=400,300\nSize=250,200\nCollapsed=0\n", file);
    std::fclose(file);

    auto ui = start();
    const auto found = placements(*ui);
    expect_at(found.at("Main"), {400, 300}, {250, 200}, "Main");
    EXPECT_EQ(found.at("data_memory").pos.x, 60.0f) << "a window the file does not name is Dear ImGui's to place";
}

TEST_F(FirstLayout, WhatTheUserMovesIsKeptForTheNextStart) {
    ImVec2 register_file_pos;
    {
        auto ui = start();
        const auto first = placements(*ui);
        register_file_pos = first.at("register_file").pos;
        ui->frame([] {
            ImGui::SetWindowPos("Main", ImVec2(700, 400));
            ImGui::SetWindowSize("Main", ImVec2(220, 260));
        });
        placements(*ui);
    }  // the context saves imgui.ini as it ends

    auto ui = start();
    const auto next = placements(*ui);
    expect_at(next.at("Main"), {700, 400}, {220, 260}, "Main");
    EXPECT_EQ(next.at("register_file").pos.x, register_file_pos.x) << "the windows not moved stay";
    EXPECT_EQ(next.at("register_file").pos.y, register_file_pos.y);
}

}  // namespace
