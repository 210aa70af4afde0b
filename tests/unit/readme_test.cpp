// The README against the tree it describes: every repository path it names
// exists, every build product it names is built, every build folder is one
// a script or the README's own command makes, and its commands name
// scripts, options, labels, tests and file versions that exist. The
// package test runs the README's command that builds the packaged example.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "support/child_process.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path source = VEDRIK_SOURCE_DIR;
const fs::path binary = VEDRIK_BUILD_DIR;

std::string readme() { return read_file((source / "README.md").string()); }

// The README's code: its `spans` and the lines of its indented blocks.
std::vector<std::string> code_texts() {
    const std::string text = readme();
    std::vector<std::string> texts;
    const std::regex span("`([^`\n]+)`");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), span); it != std::sregex_iterator(); ++it) {
        texts.push_back((*it)[1]);
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("    ", 0) == 0 && line.find_first_not_of(' ') != std::string::npos) texts.push_back(line);
    }
    return texts;
}

// Whitespace-separated words of the code, without quotes, parentheses,
// trailing commas and a leading NAME= of an assignment.
std::vector<std::string> code_words() {
    std::vector<std::string> words;
    for (const std::string& text : code_texts()) {
        std::istringstream in(text);
        for (std::string word; in >> word;) {
            word.erase(0, word.find_first_not_of("'\"("));
            while (!word.empty() && std::string(",;)'\"").find(word.back()) != std::string::npos) word.pop_back();
            const auto assign = word.find('=');
            if (assign != std::string::npos && word.find('/') != std::string::npos && assign < word.find('/')) {
                word.erase(0, assign + 1);
            }
            if (word.rfind("$PWD/", 0) == 0) word.erase(0, 5);
            if (word.rfind("./", 0) == 0) word.erase(0, 2);
            if (!word.empty()) words.push_back(word);
        }
    }
    return words;
}

// The first folder of a path ("src" of "src/frame.cpp").
std::string first_folder(const std::string& path) {
    const auto slash = path.find('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool exists_with_glob(const fs::path& root, const std::string& path) {
    const auto star = path.find('*');
    if (star == std::string::npos) return fs::exists(root / path);
    const fs::path prefix = root / path.substr(0, star);
    if (!fs::is_directory(prefix.parent_path())) return false;
    for (const auto& entry : fs::directory_iterator(prefix.parent_path())) {
        if (entry.path().string().rfind(prefix.string(), 0) == 0) return true;
    }
    return false;
}

std::string scripts_text() {
    std::string text;
    for (const auto& entry : fs::directory_iterator(source / "scripts")) text += read_file(entry.path().string());
    return text;
}

TEST(Readme, EveryRepositoryPathItNamesExists) {
    std::set<std::string> folders;
    for (const auto& entry : fs::directory_iterator(source)) {
        if (entry.is_directory() && entry.path().filename().string().rfind("build", 0) != 0) {
            folders.insert(entry.path().filename().string());
        }
    }
    int checked = 0;
    for (const std::string& word : code_words()) {
        const std::string folder = first_folder(word);
        if (folders.count(folder) == 0) continue;
        ++checked;
        EXPECT_TRUE(exists_with_glob(source, word)) << word;
    }
    EXPECT_GT(checked, 20) << "the README's paths were found";
}

TEST(Readme, EveryBuildPathIsBuiltOrMadeByAScriptOrItsOwnCommand) {
    const std::string scripts = scripts_text();
    const std::string text = readme();
    for (const std::string& word : code_words()) {
        const std::string folder = first_folder(word);
        if (folder.rfind("build", 0) != 0) continue;
        if (folder == "build") {
            // The programs are in every build tree; the run folders are run.sh's.
            std::string path = word;
            while (!path.empty() && path.back() == '/') path.pop_back();
            EXPECT_TRUE(fs::exists(binary / word.substr(6)) || scripts.find(path) != std::string::npos) << word;
        } else {
            EXPECT_TRUE(scripts.find(folder) != std::string::npos || text.find("-B " + folder) != std::string::npos)
                << word;
        }
    }
}

TEST(Readme, ItsCommandsNameScriptsOptionsLabelsTestsAndVersionsThatExist) {
    const std::string cmake = read_file((source / "CMakeLists.txt").string());
    // The packages take their version from project().
    std::smatch version;
    ASSERT_TRUE(std::regex_search(cmake, version, std::regex("project\\(vedrik VERSION ([0-9.]+)")));
    std::string tests_text;
    for (const auto& entry : fs::recursive_directory_iterator(source / "tests")) {
        if (entry.path().extension() == ".cpp") tests_text += read_file(entry.path().string());
    }
    for (const std::string& text : code_texts()) {
        std::istringstream in(text);
        std::vector<std::string> words;
        for (std::string w; in >> w;) words.push_back(w);
        for (std::size_t i = 0; i < words.size(); ++i) {
            const std::string& w = words[i];
            if (w.rfind("-D", 0) == 0 && w.size() > 2) {
                const std::string option = w.substr(2, w.find('=') - 2);
                EXPECT_NE(cmake.find(option), std::string::npos) << text;
            }
            if (w == "bash" && i + 1 < words.size()) {
                EXPECT_TRUE(fs::exists(source / words[i + 1])) << text;
            }
            if (w == "-L" && i + 1 < words.size()) {
                std::string labels = words[i + 1];
                const auto quote = [](char c) { return c == '"' || c == '\''; };
                labels.erase(std::remove_if(labels.begin(), labels.end(), quote), labels.end());
                std::istringstream parts(labels);
                for (std::string label; std::getline(parts, label, '|');) {
                    EXPECT_TRUE(fs::is_directory(source / "tests" / label)) << text;
                }
            }
            if (w == "-R" && i + 1 < words.size()) {
                EXPECT_NE(tests_text.find(words[i + 1]), std::string::npos) << text;
            }
            std::smatch file_version;
            if (std::regex_search(w, file_version, std::regex("^.*vedrik[_-]([0-9.]+)[_-].*\\.(deb|zip)$"))) {
                EXPECT_EQ(file_version[1].str(), version[1].str()) << text;
            }
        }
    }
}

}  // namespace
