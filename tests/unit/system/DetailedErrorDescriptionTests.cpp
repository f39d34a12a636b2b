#include <somnara/system/DetailedErrorDescription.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace somnara {
namespace {

std::string expected(const std::string& type, const std::string& domain, int code,
                     const std::string& userInfo, const std::string& description) {
    return type + "\ndomain: " + domain + "\ncode: " + std::to_string(code) + "\nuserInfo: " + userInfo +
           "\nlocalizedDescription: " + description +
           "\nlocalizedFailureReason: (nil)\nlocalizedRecoverySuggestion: (nil)\nlocalizedRecoveryOptions: []"
           "\nrecoveryAttempter: (nil)\nhelpAnchor: (nil)";
}

TEST(DetailedErrorDescription, DescribesEachKindOfErrorInTenLines) {
    const auto missing = std::make_error_code(std::errc::no_such_file_or_directory);
    const std::system_error systemError(missing, "opening settings");
    const std::filesystem::filesystem_error fileError("rename", "/a/b", "/c", missing);
    const std::runtime_error plain("engine failed");
    const std::exception& asBase = systemError;

    EXPECT_EQ(detailedErrorDescription(plain),
              expected("std::runtime_error", "std::runtime_error", 0, "{}", "engine failed"));
    EXPECT_EQ(detailedErrorDescription(asBase),
              expected("std::system_error", "generic", ENOENT, "{}", systemError.what()));
    EXPECT_EQ(detailedErrorDescription(fileError),
              expected("std::filesystem::__cxx11::filesystem_error", "generic", ENOENT,
                       R"({"path1":"/a/b","path2":"/c"})", fileError.what()));
    EXPECT_EQ(detailedErrorDescription(missing),
              expected("std::error_code", "generic", ENOENT, "{}", missing.message()));
}

} // namespace
} // namespace somnara
