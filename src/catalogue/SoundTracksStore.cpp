#include <somnara/catalogue/SoundTracksStore.hpp>
#include <somnara/foundation/StringScore.hpp>

#include <algorithm>
#include <utility>

namespace somnara {

SoundTracksStore::SoundTracksStore(std::vector<SoundTrack> soundTracks)
    : soundTracks_(std::move(soundTracks)) {}

std::vector<SoundTrack> SoundTracksStore::searchMultiple(std::string_view term) const {
    if (term.empty()) {
        return {};
    }
    constexpr double fuzziness = 0.5;
    constexpr double threshold = 0.5;
    // The score of a name is the same every time it is computed, so one per sound serves every comparison.
    std::vector<std::pair<SoundTrack, double>> kept;
    for (const auto soundTrack : soundTracks_) {
        const auto value = score(soundTrack.name(), term, fuzziness);
        if (value > threshold) {
            kept.emplace_back(soundTrack, value);
        }
    }
    std::ranges::stable_sort(kept, [](const auto& a, const auto& b) { return a.second > b.second; });
    std::vector<SoundTrack> result;
    result.reserve(kept.size());
    for (const auto& entry : kept) {
        result.push_back(entry.first);
    }
    return result;
}

std::optional<SoundTrack> SoundTracksStore::search(std::string_view term) const {
    const auto matches = searchMultiple(term);
    if (matches.empty()) {
        return std::nullopt;
    }
    return matches.front();
}

} // namespace somnara
