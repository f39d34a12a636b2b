#pragma once

#include <somnara/catalogue/SoundTrack.hpp>

#include <optional>
#include <unordered_set>

namespace somnara {

/// A set of sound tracks: unordered, as the selection has no order of its own.
using SoundTrackSet = std::unordered_set<SoundTrack>;

/// One change of the selection, as the collection publishes it: what was selected before and what is
/// selected now. Compared field by field.
struct SelectedSoundTracksChange {
    /// The selection before the change; none only in the value a subscriber sees before any change.
    std::optional<SoundTrackSet> old_;
    /// The selection after the change (`new` is a keyword).
    SoundTrackSet new_;

    friend bool operator==(const SelectedSoundTracksChange&, const SelectedSoundTracksChange&) = default;
};

} // namespace somnara
