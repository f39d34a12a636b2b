#pragma once

#include <somnara/catalogue/SoundTrack.hpp>

#include <optional>
#include <string_view>
#include <vector>

namespace somnara {

/// A searchable list of sound tracks for the app's search field. Immutable after construction; any
/// thread may search it.
class SoundTracksStore {
public:
    explicit SoundTracksStore(std::vector<SoundTrack> soundTracks);

    const std::vector<SoundTrack>& soundTracks() const noexcept { return soundTracks_; }

    /// The sound tracks whose display name matches `term` with a fuzzy score above 0.5 (one letter in
    /// two may be missing), best match first; equal scores keep the list's order. Empty for an empty term.
    std::vector<SoundTrack> searchMultiple(std::string_view term) const;
    /// The best match of `searchMultiple`, or none.
    std::optional<SoundTrack> search(std::string_view term) const;

private:
    std::vector<SoundTrack> soundTracks_;
};

} // namespace somnara
