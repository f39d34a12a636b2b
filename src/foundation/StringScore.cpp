#include <somnara/foundation/StringScore.hpp>

#include <utf8proc.h>

#include <cctype>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace somnara {
namespace {

std::vector<utf8proc_int32_t> decode(std::string_view text) {
    std::vector<utf8proc_int32_t> codePoints;
    codePoints.reserve(text.size());
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    auto remaining = static_cast<utf8proc_ssize_t>(text.size());
    while (remaining > 0) {
        utf8proc_int32_t codePoint = 0;
        auto length = utf8proc_iterate(bytes, remaining, &codePoint);
        if (length <= 0) {
            // A broken byte stands for itself as a replacement character, as text views show it.
            codePoint = 0xFFFD;
            length = 1;
        }
        codePoints.push_back(codePoint);
        bytes += length;
        remaining -= length;
    }
    return codePoints;
}

void append(std::string& text, utf8proc_int32_t codePoint) {
    utf8proc_uint8_t buffer[4];
    const auto length = utf8proc_encode_char(codePoint, buffer);
    text.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

std::string mapped(const std::string& text, int options) {
    utf8proc_uint8_t* result = nullptr;
    const auto length = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                                     static_cast<utf8proc_ssize_t>(text.size()), &result,
                                     static_cast<utf8proc_option_t>(options));
    const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(result, &std::free);
    if (length < 0) {
        return text;
    }
    return std::string(reinterpret_cast<const char*>(result), static_cast<std::size_t>(length));
}

/// One user-perceived character in the forms the score compares.
struct Character {
    /// Canonically composed, so that "é" and "e" + U+0301 are the same character.
    std::string exact;
    /// Case-folded without diacritics: what the search compares.
    std::string folded;
};

Character makeCharacter(const std::string& text) {
    Character character;
    if (text.size() == 1 && static_cast<unsigned char>(text[0]) < 0x80) {
        // Plain ASCII has no marks and folds by itself; most names are only that.
        character.exact = text;
        character.folded =
            std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(text[0]))));
        return character;
    }
    character.exact = mapped(text, UTF8PROC_STABLE | UTF8PROC_COMPOSE);
    character.folded =
        mapped(text, UTF8PROC_STABLE | UTF8PROC_DECOMPOSE | UTF8PROC_CASEFOLD | UTF8PROC_STRIPMARK);
    if (character.folded.empty()) {
        // A lone combining mark has nothing left once marks are stripped; it matches only itself.
        character.folded = character.exact;
    }
    return character;
}

/// Splits text into grapheme clusters; with `lowerCase`, each code point is lower-cased first.
std::vector<Character> characters(std::string_view text, bool lowerCase) {
    std::vector<Character> result;
    std::string cluster;
    utf8proc_int32_t previous = -1;
    utf8proc_int32_t state = 0;
    for (auto codePoint : decode(text)) {
        if (previous >= 0 && utf8proc_grapheme_break_stateful(previous, codePoint, &state)) {
            result.push_back(makeCharacter(cluster));
            cluster.clear();
        }
        append(cluster, lowerCase ? utf8proc_tolower(codePoint) : codePoint);
        previous = codePoint;
    }
    if (!cluster.empty()) {
        result.push_back(makeCharacter(cluster));
    }
    return result;
}

} // namespace

double score(std::string_view text, std::string_view word, std::optional<double> fuzziness) {
    const auto original = characters(word, false);
    const auto s = characters(text, true);
    const auto w = characters(word, true);
    const auto sameText = [&] {
        // Equality of texts is canonical equivalence, as it is for the characters.
        const auto exactText = characters(text, false);
        if (exactText.size() != original.size()) {
            return false;
        }
        for (std::size_t i = 0; i < original.size(); ++i) {
            if (exactText[i].exact != original[i].exact) {
                return false;
            }
        }
        return true;
    };
    if (sameText()) {
        return 1.0;
    }
    if (s.empty() || w.empty()) {
        return 0.0;
    }

    double running = 0.0;
    double fuzzies = 1.0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < original.size() && i < w.size(); ++i) {
        std::size_t position = start;
        while (position < s.size() && s[position].folded != w[i].folded) {
            ++position;
        }
        if (position == s.size()) {
            if (!fuzziness) {
                return 0.0;
            }
            fuzzies += 1.0 - *fuzziness;
            continue;
        }
        double characterScore = 0.1;
        if (position == start) {
            characterScore = 0.7;
        } else if (s[position - 1].exact == " ") {
            characterScore = 0.9;
        }
        if (s[position].exact == original[i].exact) {
            characterScore += 0.1;
        }
        running += characterScore;
        start = position + 1;
    }

    const auto textLength = static_cast<double>(s.size());
    const auto wordLength = static_cast<double>(original.size());
    double result = 0.5 * (running / textLength + running / wordLength) / fuzzies;
    if (result < 0.85 && w.front().folded == s.front().folded) {
        result += 0.15;
    }
    return result;
}

} // namespace somnara
