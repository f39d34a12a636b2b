#include "support/ScopedEnvironment.hpp"
#include "support/TemporaryDirectory.hpp"

#include <somnara/linux/files/XdgFileLocations.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace somnara {
namespace {

namespace fs = std::filesystem;
using Environment = XdgFileLocations::Environment;

TEST(XdgFileLocations, FollowTheBaseDirectoryRulesAndSomnaraHome) {
    test::TemporaryDirectory root;
    const auto r = root.path().string();
    // Expected documents and user-defaults directories under the root; the sync folder is in documents.
    struct Case {
        const char* name;
        Environment environment;
        const char* documents;
        const char* userDefaults;
    };
    const std::string home = r + "/home", data = r + "/data", config = r + "/config";
    const std::vector<Case> cases{
        {"home only", {{}, {}, {}, home}, "home/.local/share/somnara", "home/.config/somnara"},
        {"XDG variables", {{}, data, config, home}, "data/somnara", "config/somnara"},
        // Relative XDG paths are to be ignored.
        {"relative XDG", {{}, "data", "config", home}, "home/.local/share/somnara", "home/.config/somnara"},
        {"SOMNARA_HOME wins", {r + "/mine", data, config, home}, "mine", "mine/defaults"},
        {"nowhere", {{}, {}, {}, {}}, nullptr, nullptr},
        {"only XDG data", {{}, data, {}, {}}, "data/somnara", nullptr},
        // A directory that cannot be created is none.
        {"a file as SOMNARA_HOME", {r + "/blocked", {}, {}, {}}, nullptr, nullptr},
    };
    std::ofstream(root / "blocked") << "";
    const auto under = [&](const char* path) { return path ? std::optional(root / path) : std::nullopt; };
    for (const auto& c : cases) {
        const XdgFileLocations locations(c.environment);
        const auto sync = c.documents ? std::optional(root / c.documents / "sync") : std::nullopt;
        EXPECT_EQ(locations.documentsDirectory(), under(c.documents)) << c.name;
        EXPECT_EQ(locations.userDefaultsDirectory(), under(c.userDefaults)) << c.name;
        EXPECT_EQ(locations.defaultSyncDirectory(), sync) << c.name;
        for (const auto& directory : {under(c.documents), under(c.userDefaults), sync}) {
            EXPECT_TRUE(!directory || fs::is_directory(*directory)) << c.name << ": " << *directory;
        }
    }
}

TEST(FileLocationsShared, ReadTheEnvironmentAgainAfterAReset) {
    test::TemporaryDirectory root;
    test::ScopedEnvironment environment("SOMNARA_HOME", (root / "first").string());
    FileLocations::setShared(nullptr);
    EXPECT_EQ(FileLocations::shared()->documentsDirectory(), root / "first");
    environment.set("SOMNARA_HOME", (root / "second").string());
    // Read once: a change of the environment is seen only after a reset.
    EXPECT_EQ(FileLocations::shared()->documentsDirectory(), root / "first");
    FileLocations::setShared(nullptr);
    EXPECT_EQ(FileLocations::shared()->userDefaultsDirectory(), root / "second/defaults");
    FileLocations::setShared(nullptr);
}

} // namespace
} // namespace somnara
