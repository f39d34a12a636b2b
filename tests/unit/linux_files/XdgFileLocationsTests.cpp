#include "support/ScopedEnvironment.hpp"
#include "support/TemporaryDirectory.hpp"

#include <somnara/linux/files/XdgFileLocations.hpp>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace somnara {
namespace {

namespace fs = std::filesystem;
using Environment = XdgFileLocations::Environment;

TEST(XdgFileLocations, FollowTheBaseDirectoryRulesAndSomnaraHome) {
    test::TemporaryDirectory root;
    const auto r = root.path().string();
    struct Case {
        const char* name;
        Environment environment;
        std::optional<fs::path> documents;
        std::optional<fs::path> userDefaults;
        std::optional<fs::path> sync;
    };
    const std::vector<Case> cases{
        {"home only",
         {std::nullopt, std::nullopt, std::nullopt, r + "/home"},
         root / "home/.local/share/somnara",
         root / "home/.config/somnara",
         root / "home/.local/share/somnara/sync"},
        {"XDG variables",
         {std::nullopt, r + "/data", r + "/config", r + "/home"},
         root / "data/somnara",
         root / "config/somnara",
         root / "data/somnara/sync"},
        // Relative XDG paths are to be ignored.
        {"relative XDG",
         {std::nullopt, "data", "config", r + "/home"},
         root / "home/.local/share/somnara",
         root / "home/.config/somnara",
         root / "home/.local/share/somnara/sync"},
        {"SOMNARA_HOME wins",
         {r + "/mine", r + "/data", r + "/config", r + "/home"},
         root / "mine",
         root / "mine/defaults",
         root / "mine/sync"},
        {"nowhere",
         {std::nullopt, std::nullopt, std::nullopt, std::nullopt},
         std::nullopt,
         std::nullopt,
         std::nullopt},
        {"only XDG data",
         {std::nullopt, r + "/data", std::nullopt, std::nullopt},
         root / "data/somnara",
         std::nullopt,
         root / "data/somnara/sync"},
    };
    for (const auto& c : cases) {
        const XdgFileLocations locations(c.environment);
        EXPECT_EQ(locations.documentsDirectory(), c.documents) << c.name;
        EXPECT_EQ(locations.userDefaultsDirectory(), c.userDefaults) << c.name;
        EXPECT_EQ(locations.defaultSyncDirectory(), c.sync) << c.name;
        for (const auto& directory : {c.documents, c.userDefaults, c.sync}) {
            if (directory) {
                EXPECT_TRUE(fs::is_directory(*directory))
                    << c.name << ": " << *directory << " was not created";
            }
        }
    }
}

TEST(XdgFileLocations, ADirectoryThatCannotBeCreatedIsNone) {
    test::TemporaryDirectory root;
    // A file where the directory should be.
    std::FILE* file = std::fopen((root / "blocked").c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    const XdgFileLocations locations({(root / "blocked").string(), std::nullopt, std::nullopt, std::nullopt});
    EXPECT_EQ(locations.documentsDirectory(), std::nullopt);
    EXPECT_EQ(locations.userDefaultsDirectory(), std::nullopt);
}

class EmptyLocations final : public FileLocations {
public:
    std::optional<fs::path> documentsDirectory() const override { return std::nullopt; }
    std::optional<fs::path> userDefaultsDirectory() const override { return std::nullopt; }
    std::optional<fs::path> defaultSyncDirectory() const override { return std::nullopt; }
};

TEST(XdgFileLocationsDeathTest, NoDocumentsDirectoryEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const EmptyLocations locations;
    EXPECT_DEATH(locations.requireDocumentsDirectory("SomnaraKit/NoisePlayerSettings", 109),
                 "SomnaraKit/NoisePlayerSettings:109: Fatal error: Can't find documents directory");
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
