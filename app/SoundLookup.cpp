#include "SoundLookup.hpp"

#include "TerminalText.hpp"

#include <somnara/foundation/StringScore.hpp>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

namespace somnara::app {

namespace {

std::string lowercased(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

} // namespace

/// The sound named `text` by identifier or name, in any case; refused with the closest names otherwise.
SoundTrack soundNamed(const std::string& text) {
    const auto wanted = lowercased(text);
    for (const auto& soundTrack : SoundTrack::allCases()) {
        if (lowercased(soundTrack.identifier()) == wanted || lowercased(soundTrack.englishName()) == wanted ||
            lowercased(soundTrack.name()) == wanted) {
            return soundTrack;
        }
    }
    // No name is this long: suggestions would cost a fuzzy match against every character.
    constexpr std::size_t longestName = 64;
    if (text.size() > longestName) {
        // Cut at a character's start, so that the message stays valid UTF-8.
        auto cut = longestName;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        throw std::invalid_argument("no sound is called \"" + text.substr(0, cut) +
                                    "...\"; `somnara sounds` lists them all");
    }
    // The closest names by fuzzy score, however poor: a typo like "rian" scores too low for a search,
    // yet Rain is what the user meant.
    std::vector<std::pair<double, SoundTrack>> scored;
    for (const auto& soundTrack : SoundTrack::allCases()) {
        const auto value = score(soundTrack.name(), text, 0.5);
        if (value > 0) {
            scored.emplace_back(value, soundTrack);
        }
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<SoundTrack> matches;
    for (std::size_t i = 0; i < scored.size() && i < 3; ++i) {
        matches.push_back(scored[i].second);
    }
    std::string message = "no sound is called \"" + printable(text) + "\"";
    if (matches.empty()) {
        message += "; `somnara sounds` lists them all";
    } else {
        message += "; did you mean ";
        for (std::size_t i = 0; i < matches.size(); ++i) {
            message += (i == 0 ? "" : i + 1 == matches.size() ? " or " : ", ") + matches[i].name();
        }
        message += "?";
    }
    throw std::invalid_argument(message);
}

} // namespace somnara::app
