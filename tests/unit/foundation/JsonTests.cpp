#include <somnara/foundation/Json.hpp>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace somnara {
namespace {

using Json = nlohmann::json;

TEST(JsonFloats, AreWrittenInTheirShortestFormAndOnlyWhenFinite) {
    struct Case {
        float value;
        const char* text;
    };
    const std::vector<Case> cases{
        {0.8F, "0.8"},
        {1.0F, "1.0"},
        {-96.0F, "-96.0"},
        {-0.0F, "-0.0"},
        {1e-7F, "1e-07"},
        {3.4028235e38F, "3.4028235e+38"},
        {0.33333334F, "0.33333334"},
        {16777216.0F, "16777216.0"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(json::dump(json::fromFloat(value)), text) << "for " << value;
    }
    // Numbers that are not finite fail to encode wherever they are.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    const std::vector<Json> values{
        json::fromFloat(nan),
        Json::array({1, json::fromFloat(-infinity)}),
        Json::object({{"delay", Json::object({{"time", std::numeric_limits<double>::infinity()}})}}),
    };
    for (const auto& value : values) {
        EXPECT_THROW(json::dump(value), json::EncodingError);
    }
    EXPECT_EQ(json::dump(Json::object({{"a", Json::array({0.5, 1})}})), R"({"a":[0.5,1]})");
}

TEST(JsonFloats, ReadBackBitForBitAcrossTheWholeRange) {
    std::mt19937 random(1234);
    std::uniform_int_distribution<std::uint32_t> bits;
    int checked = 0;
    for (int i = 0; i < 200'000; ++i) {
        const float value = std::bit_cast<float>(bits(random));
        if (!std::isfinite(value)) {
            continue;
        }
        const auto text = json::dump(json::fromFloat(value));
        const float back = json::toFloat(json::parse(text), "value");
        ASSERT_EQ(std::bit_cast<std::uint32_t>(back), std::bit_cast<std::uint32_t>(value)) << text;
        ++checked;
    }
    EXPECT_GT(checked, 190'000);
    const float smallest = std::numeric_limits<float>::denorm_min();
    EXPECT_EQ(json::toFloat(json::parse(json::dump(json::fromFloat(smallest))), "v"), smallest);
}

// Which reader takes which type the decoders' own tests show (settings, mixes, play events); the limits
// of the number readers and a boolean read as a number they do not.
TEST(JsonReaders, RefuseWhatTheirTypeCannotHold) {
    EXPECT_THROW(json::toFloat(json::parse("true"), "v"), json::DecodingError);
    EXPECT_THROW(json::toFloat(json::parse("1e39"), "v"), json::DecodingError);
    EXPECT_THROW(json::toInteger(json::parse("9223372036854775808"), "v"), json::DecodingError);
    EXPECT_EQ(json::toInteger(json::parse("-9223372036854775808"), "v"),
              std::numeric_limits<std::int64_t>::min());
}

TEST(JsonReaders, NameTheMissingOrWrongKey) {
    const auto object = json::parse(R"({"speed":"fast","reverb":2})");
    // A string read as a number, and a missing key.
    for (const char* key : {"speed", "pitch"}) {
        try {
            json::floatMember(object, key);
            ADD_FAILURE() << key << " was read";
        } catch (const json::DecodingError& error) {
            EXPECT_NE(std::string(error.what()).find(key), std::string::npos) << error.what();
        }
    }
    EXPECT_EQ(json::optionalMember(object, "pitch"), nullptr);
    EXPECT_EQ(json::floatMember(object, "reverb"), 2.0F);
    EXPECT_THROW(json::member(json::parse("[1]"), "speed"), json::DecodingError);
    EXPECT_THROW(json::parse("{\"speed\":"), json::DecodingError);
}

} // namespace
} // namespace somnara
