#include <somnara/foundation/Bundle.hpp>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace somnara {
namespace {

class BundleTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() / ("somnara-bundle-" + std::to_string(::getpid()));
        std::filesystem::create_directories(root_ / "sounds" / "folder.m4a");
        std::ofstream(root_ / "sounds" / "rain.m4a") << "x";
        std::ofstream(root_ / "LICENSE") << "x";
    }
    void TearDown() override {
        std::filesystem::remove_all(root_);
        ::unsetenv("SOMNARA_RESOURCES");
    }
    std::filesystem::path root_;
};

TEST_F(BundleTest, FindsOnlyRegularFilesWhereAsked) {
    const Bundle bundle(root_);
    EXPECT_EQ(bundle.url("rain", "m4a", "sounds"), root_ / "sounds" / "rain.m4a");
    EXPECT_EQ(bundle.url("LICENSE", ""), root_ / "LICENSE");
    EXPECT_EQ(bundle.url("rain", "m4a"), std::nullopt);
    EXPECT_EQ(bundle.url("rain", "flac", "sounds"), std::nullopt);
    EXPECT_EQ(bundle.url("folder", "m4a", "sounds"), std::nullopt);
}

TEST_F(BundleTest, EnvironmentOverridesThenBuildTree) {
    ::setenv("SOMNARA_RESOURCES", root_.c_str(), 1);
    EXPECT_EQ(Bundle::locateModuleResources(), root_);
    ::unsetenv("SOMNARA_RESOURCES");
    // Run from the build tree, nothing is installed beside this program.
    EXPECT_EQ(Bundle::locateModuleResources(), std::filesystem::path(SOMNARA_BINARY_DIR) / "resources");
}

} // namespace
} // namespace somnara
