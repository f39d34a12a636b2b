#include "foundation/Base64.hpp"

#include <gtest/gtest.h>

namespace somnara {
namespace {

TEST(Base64, MatchesTheStandardVectorsAndRejectsMalformedText) {
    // RFC 4648, section 10.
    const std::vector<std::pair<std::string, std::string>> vectors{
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64Encode(std::vector<std::uint8_t>(plain.begin(), plain.end())), encoded) << plain;
        EXPECT_EQ(base64Decode(encoded), std::vector<std::uint8_t>(plain.begin(), plain.end())) << encoded;
    }
    for (const std::string bad : {"Zg=", "Zg", "Z===", "Zm9v!A==", "Zg==Zg==", "Zm=v"}) {
        EXPECT_FALSE(base64Decode(bad).has_value()) << bad;
    }
}

} // namespace
} // namespace somnara
