#include "support/TemporaryDirectory.hpp"

#include <somnara/foundation/LocalizedString.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace somnara {
namespace {

class LocalizedStringTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root_ / "Localizable");
        write("en", R"({"sound_track.name.rain": "Rain", "mix_name.default_name": "My Mix"})");
        write("fr", R"({"sound_track.name.rain": "Pluie"})");
        write("pt-BR", R"({"sound_track.name.rain": "Chuva"})");
        write("de", "not json");
    }
    void write(const std::string& language, const std::string& text) {
        std::ofstream(root_ / "Localizable" / (language + ".json")) << text;
    }
    test::TemporaryDirectory directory_;
    const std::filesystem::path& root_ = directory_.path();
};

TEST_F(LocalizedStringTest, PicksTheFirstPreferredLanguageWithATable) {
    struct Case {
        std::vector<std::string> languages;
        const char* language;
        std::optional<std::string> rain;
    };
    const std::vector<Case> cases = {
        {{"fr-CA", "en"}, "fr", "Pluie"},
        {{"pt-BR"}, "pt-BR", "Chuva"},
        {{"pt-PT", "fr"}, "fr", "Pluie"},
        {{"it", "ja"}, "en", "Rain"},
        {{"de"}, "en", "Rain"}, // an unreadable table is skipped
        {{}, "en", "Rain"},
    };
    const Bundle bundle(root_);
    for (const auto& c : cases) {
        const auto table = LocalizationTable::load(bundle, c.languages);
        EXPECT_EQ(table.language(), c.language);
        EXPECT_EQ(table.string("sound_track.name.rain"), c.rain);
    }
    // A key the chosen table lacks is absent there; callers then show their English text.
    EXPECT_EQ(LocalizationTable::load(bundle, {"fr"}).string("mix_name.default_name"), std::nullopt);
    EXPECT_EQ(LocalizationTable::load(Bundle(root_ / "missing"), {"en"}).language(), "");
}

TEST(FormatLocalized, SubstitutesTheIntegerAndUnescapesPercent) {
    const std::vector<std::tuple<const char*, std::int64_t, const char*>> cases = {
        {"%d Sounds Selected", 3, "3 Sounds Selected"},
        {"%ld sons", 12, "12 sons"},
        {"%lld", -4, "-4"},
        {"%1$d Klänge", 5, "5 Klänge"},
        {"100%% of %d", 7, "100% of 7"},
        {"%d and %d", 1, "1 and %d"},
        {"no number", 9, "no number"},
        {"trailing %", 9, "trailing %"},
    };
    for (const auto& [format, value, expected] : cases) {
        EXPECT_EQ(formatLocalized(format, value), expected) << format;
    }
    EXPECT_EQ(formatLocalized("Rain 100%%"), "Rain 100%");
    EXPECT_EQ(formatLocalized("%d Sounds"), "%d Sounds");
}

} // namespace
} // namespace somnara
