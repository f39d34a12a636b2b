#include <somnara/foundation/Json.hpp>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace somnara {
namespace {

// How floats are written and that numbers which are not finite fail to encode, the settings and mix tests
// check; here, that every float reads back exactly.
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
