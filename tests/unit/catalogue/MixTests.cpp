#include <somnara/catalogue/Mix.hpp>
#include <somnara/foundation/Json.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <set>
#include <string>
#include <vector>

using namespace somnara;

namespace {

using Levels = Mix::SoundsAndVolumeLevels;

TEST(Mix, NewMixesAreNamedByTheirSoundsInReverseAlphabeticalOrderAndGetDistinctUpperCaseUuids) {
    struct Case {
        Levels levels;
        std::string name;
    };
    const std::vector<Case> cases{
        {{}, ""},
        {{{SoundTrack::rain, 0.5F}}, "Rain"},
        {{{SoundTrack::rain, 0.8F}, {SoundTrack::fan, 0.3F}}, "Rain & Fan"},
        {{{SoundTrack::rain, 0.3F}, {SoundTrack::fan, 0.8F}}, "Rain & Fan"},
        // "Brown Noise" is the first case; the order is by display name, not raw value.
        {{{SoundTrack::whiteNoise, 0.1F}, {SoundTrack::whiteNoiseReal, 0.9F}}, "White Noise & Brown Noise"},
        {{{SoundTrack::rain, 0.3F}, {SoundTrack::fan, 0.8F}, {SoundTrack::wind, 1.0F}}, "My Mix"},
    };
    const std::regex uuid{"^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"};
    std::set<std::string> identifiers;
    for (const auto& [levels, name] : cases) {
        const Mix mix{levels};
        EXPECT_EQ(mix.name(), name);
        EXPECT_TRUE(std::regex_match(mix.identifier(), uuid)) << mix.identifier();
        identifiers.insert(mix.identifier());
    }
    EXPECT_EQ(identifiers.size(), cases.size());
}

TEST(Mix, EncodesTheFlatPairArrayAndDecodesItBack) {
    const Mix rain{"7D1A3C1E-0000-4000-8000-000000000001", "Rain", {{SoundTrack::rain, 0.5F}}};
    EXPECT_EQ(
        json::dump(nlohmann::json(rain)),
        R"({"identifier":"7D1A3C1E-0000-4000-8000-000000000001","name":"Rain","soundsAndVolumeLevels":[3,0.5]})");

    const Mix evening{
        "E", "Evening", {{SoundTrack::fan, 0.8F}, {SoundTrack::train, 0.1F}, {SoundTrack::rain, 1.0F}}};
    const auto text = json::dump(nlohmann::json(evening));
    EXPECT_NE(text.find("0.8,"), std::string::npos) << "volumes in their shortest form: " << text;
    const auto decoded = json::parse(text).get<Mix>();
    EXPECT_TRUE(Mix::SameRecord{}(decoded, evening)) << text;
    EXPECT_EQ(decoded.soundsAndVolumeLevels().at(SoundTrack::fan), 0.8F);

    const auto withExtraKey =
        json::parse(R"({"name":"N","colour":"red","soundsAndVolumeLevels":[49,1],"identifier":"I"})")
            .get<Mix>();
    EXPECT_TRUE(Mix::SameRecord{}(withExtraKey, Mix("I", "N", {{SoundTrack::train, 1.0F}})));
}

TEST(Mix, DecodingRefusesIncompleteOrWrongRecords) {
    for (const std::string text : {
             R"({"name":"N","soundsAndVolumeLevels":[3,0.5]})",
             R"({"identifier":"I","name":"N"})",
             R"({"identifier":"I","name":"N","soundsAndVolumeLevels":[3]})",
             R"({"identifier":"I","name":"N","soundsAndVolumeLevels":[50,0.5]})",
             R"({"identifier":"I","name":"N","soundsAndVolumeLevels":[3,"loud"]})",
             R"({"identifier":"I","name":"N","soundsAndVolumeLevels":{"3":0.5}})",
             R"({"identifier":"I","name":7,"soundsAndVolumeLevels":[]})",
             R"([{"identifier":"I","name":"N","soundsAndVolumeLevels":[]}])",
         }) {
        EXPECT_THROW((void)json::parse(text).get<Mix>(), json::DecodingError) << text;
    }
}

TEST(Mix, EqualByNameButKeptApartAsRecordsInTheSetOfSavedMixes) {
    const Mix a{"A", "Rain", {{SoundTrack::rain, 0.5F}}};
    const Mix b{"B", "Rain", {{SoundTrack::rain, 0.5F}}};
    EXPECT_EQ(a, b);
    EXPECT_LT(Mix("Z", "Evening", {}), a);

    Mix::Set set{a, b, a};
    EXPECT_EQ(set.size(), 2U) << "two records of one name both stay; an identical one does not";

    // One bit of volume makes another record. (A hash that depends on the order of the volumes already
    // fails the saved mixes' tests.)
    const Mix nudged{"A", "Rain", {{SoundTrack::rain, std::nextafter(0.5F, 1.0F)}}};
    EXPECT_FALSE(Mix::SameRecord{}(a, nudged));
    EXPECT_FALSE(a.hasSameSoundsAndVolumeLevels(nudged));
}

} // namespace
