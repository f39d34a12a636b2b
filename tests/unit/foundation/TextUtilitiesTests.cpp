#include <somnara/foundation/Locale.hpp>
#include <somnara/foundation/QueryParameters.hpp>
#include <somnara/foundation/StringScore.hpp>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace somnara {
namespace {

struct ScoreCase {
    const char* text;
    const char* word;
    std::optional<double> fuzziness;
    double expected;
    const char* why;
};

// Hand-computed; diacritics are ignored and characters are the ones a user perceives.
TEST(Score, MatchesHandComputedValues) {
    const std::vector<ScoreCase> cases = {
        {"Rain", "Rain", std::nullopt, 1.0, "equal texts"},
        {"Rain", "", std::nullopt, 0.0, "empty word"},
        {"", "r", 0.5, 0.0, "empty text"},
        {"abc", "ab", std::nullopt, 0.5 * (1.6 / 3 + 1.6 / 2) + 0.15,
         "matches at the search start, lower case"},
        {"abc", "AB", std::nullopt, 0.5 * (1.4 / 3 + 1.4 / 2) + 0.15, "upper-case letters get no bonus"},
        {"Rain", "rain", std::nullopt, 0.8 + 0.15, "case-insensitive, bonus for lower-case typing"},
        {"big rain", "r", std::nullopt, 0.5 * (1.0 / 8 + 1.0), "a match after a space scores 0.9 + 0.1"},
        {"bar", "r", std::nullopt, 0.5 * (0.2 / 3 + 0.2), "a match inside a word scores 0.1 + 0.1"},
        {"ab", "ba", std::nullopt, 0.0, "letters must come in order"},
        {"ab", "ba", 0.5, 0.5 * (0.2 / 2 + 0.2 / 2) / 1.5, "the out-of-order letter counts as missing"},
        {"rain", "rxin", std::nullopt, 0.0, "a missing letter without fuzziness"},
        {"rain", "rxin", 0.5, 0.5 * (1.8 / 4 + 1.8 / 4) / 1.5 + 0.15, "one missing letter divides by 1.5"},
        {"rain", "rxyn", 0.5, 0.5 * (1.0 / 4 + 1.0 / 4) / 2.0 + 0.15, "two missing letters divide by 2"},
        {"aaa", "aa", std::nullopt, 0.5 * (1.6 / 3 + 1.6 / 2) + 0.15,
         "each search starts after the last match"},
        // é is found by e, but only an exact e earns the lower-case bonus.
        {"Café", "cafe", std::nullopt, 0.5 * (3.1 / 4 + 3.1 / 4) + 0.15, "diacritic-insensitive search"},
        {"Cafe\u0301", "Caf\u00e9", std::nullopt, 1.0, "canonically equivalent texts are equal"},
        {"Cafe\u0301", "c", std::nullopt, 0.5 * (0.8 / 4 + 0.8) + 0.15,
         "e + combining accent is one character"},
        {"\U0001F1EB\U0001F1F7\U0001F1E9\U0001F1EA", "\U0001F1E9\U0001F1EA", std::nullopt,
         0.5 * (0.2 / 2 + 0.2), "a flag is found as a whole"},
        {"\U0001F1EB\U0001F1F7\U0001F1E9\U0001F1EA", "\U0001F1F7\U0001F1E9", std::nullopt, 0.0,
         "halves of two flags are not a flag"},
        {"\u00c9T\u00c9", "ete", std::nullopt, 0.5 * (2.2 / 3 + 2.2 / 3) + 0.15, "upper-case accented text"},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(score(c.text, c.word, c.fuzziness), c.expected, 1e-12) << c.why;
    }
}

TEST(QueryParameters, TakesItemsInOrder) {
    using Map = std::map<std::string, std::string>;
    const std::vector<std::pair<const char*, std::optional<Map>>> cases = {
        {"somnara://play?a=1&b&a=2", Map{{"a", "2"}}},
        {"https://example.com/path", std::nullopt},
        {"https://example.com/?b&c", Map{}},
        {"https://example.com/?a=1&a", Map{}},
        {"https://example.com/?a=1&b=2#c=3", Map{{"a", "1"}, {"b", "2"}}},
        {"https://example.com/#frag?a=1", std::nullopt},
        {"https://example.com/?name=Caf%C3%A9%20Noir&x=a+b", Map{{"name", "Caf\u00e9 Noir"}, {"x", "a+b"}}},
        {"https://example.com/?a=b=c&e=", Map{{"a", "b=c"}, {"e", ""}}},
        {"https://example.com/?a=1 2", std::nullopt},
        {"https://example.com/?a=%zz", std::nullopt},
    };
    for (const auto& [url, expected] : cases) {
        EXPECT_EQ(queryParameters(url), expected) << url;
    }
}

TEST(Locale, FirstPreferredLanguageDecidesEnglish) {
    using Variables = std::map<std::string, std::string>;
    struct Case {
        Variables variables;
        std::vector<std::string> languages;
        bool english;
    };
    const std::vector<Case> cases = {
        {{{"LANGUAGE", "fr:en"}, {"LANG", "en_US.UTF-8"}}, {"fr", "en", "en-US"}, false},
        {{{"LANGUAGE", "en_GB:fr"}, {"LANG", "fr_FR.UTF-8"}}, {"en-GB", "fr", "fr-FR"}, true},
        {{{"LC_ALL", ""}, {"LC_MESSAGES", "en_GB.UTF-8@euro"}, {"LANG", "de_DE"}}, {"en-GB"}, true},
        {{{"LC_ALL", "de_AT.UTF-8"}, {"LANG", "en_US"}}, {"de-AT"}, false},
        {{{"LANGUAGE", "::pt_BR"}}, {"pt-BR"}, false},
        {{{"LANG", "C"}}, {"en"}, true},
        {{{"LC_ALL", "POSIX"}}, {"en"}, true},
        {{}, {}, false},
    };
    for (const auto& c : cases) {
        const Locale::Environment environment = [&](const char* name) -> const char* {
            const auto found = c.variables.find(name);
            return found == c.variables.end() ? nullptr : found->second.c_str();
        };
        EXPECT_EQ(Locale::preferredLanguages(environment), c.languages);
        EXPECT_EQ(Locale::isLanguageEnglish(environment), c.english);
    }
}

} // namespace
} // namespace somnara
