#include "support/ScopedEnvironment.hpp"
#include "support/TemporaryDirectory.hpp"

#include <somnara/foundation/Bundle.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace somnara {
namespace {

class BundleTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root_ / "sounds" / "folder.m4a");
        std::ofstream(root_ / "sounds" / "rain.m4a") << "x";
        std::ofstream(root_ / "LICENSE") << "x";
    }
    test::TemporaryDirectory directory_;
    const std::filesystem::path& root_ = directory_.path();
};

TEST_F(BundleTest, FindsOnlyRegularFilesWhereAskedInTheResourcesTheEnvironmentNames) {
    const Bundle bundle(root_);
    EXPECT_EQ(bundle.url("rain", "m4a", "sounds"), root_ / "sounds" / "rain.m4a");
    EXPECT_EQ(bundle.url("LICENSE", ""), root_ / "LICENSE");
    EXPECT_EQ(bundle.url("rain", "m4a"), std::nullopt);
    EXPECT_EQ(bundle.url("rain", "flac", "sounds"), std::nullopt);
    EXPECT_EQ(bundle.url("folder", "m4a", "sounds"), std::nullopt);

    // The resources are where the environment says, or else in the build tree.
    test::ScopedEnvironment environment("SOMNARA_RESOURCES", root_.string());
    EXPECT_EQ(Bundle::locateModuleResources(), root_);
    environment.set("SOMNARA_RESOURCES", std::nullopt);
    // Run from the build tree, nothing is installed beside this program.
    EXPECT_EQ(Bundle::locateModuleResources(), std::filesystem::path(SOMNARA_BINARY_DIR) / "resources");
}

} // namespace
} // namespace somnara
