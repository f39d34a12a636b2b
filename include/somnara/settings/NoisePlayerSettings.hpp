#pragma once

#include <somnara/catalogue/SelectionMode.hpp>
#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/settings/ClosedRange.hpp>
#include <somnara/settings/SoundSettings.hpp>

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace somnara {

/// The whole persisted state of the player: fade times, the selection with its mix volumes, the
/// selection mode, whether other apps' audio may play alongside, and the effect parameters. A plain
/// value: copied, compared exactly and replaced whole; every change is a changed copy handed to the
/// settings store.
struct NoisePlayerSettings {
    /// Fade durations in seconds used by the player. The ranges are what the screens offer; the
    /// record neither checks nor clamps against them.
    struct FadeTiming {
        static constexpr ClosedRange<double> crossFadeRange{0.0, 15.0};
        static constexpr ClosedRange<double> startRange{0.0, 15.0};
        static constexpr ClosedRange<double> addRange{0.0, 10.0};
        static constexpr ClosedRange<double> removeRange{0.0, 10.0};
        static constexpr ClosedRange<double> sleepRange{0.0, 59.0};

        /// Between two selections.
        double crossFade = 2.5;
        /// Fade in at play.
        double start = 2.0;
        /// Fade in when resuming after an interruption.
        double fromInterrupt = 0.5;
        /// Fade out at stop.
        double stop = 0.5;
        /// Fade in of a sound added to the selection.
        double add = 1.0;
        /// Fade out of a sound removed from the selection.
        double remove = 0.5;
        /// Fade out when the sleep timer ends.
        double sleepEnd = 15.0;

        static FadeTiming defaultValue() noexcept { return {}; }

        FadeTiming withCrossFade(double value) const noexcept;
        FadeTiming withStart(double value) const noexcept;
        FadeTiming withAdd(double value) const noexcept;
        FadeTiming withRemove(double value) const noexcept;
        FadeTiming withSleepEnd(double value) const noexcept;

        nlohmann::json toJSON() const;
        /// Every key is required.
        static FadeTiming fromJSON(const nlohmann::json& json);

        friend bool operator==(const FadeTiming&, const FadeTiming&) = default;
    };

    using SoundTracks = std::unordered_set<SoundTrack>;
    using MixVolumes = std::unordered_map<SoundTrack, float>;

    FadeTiming fadeTiming;
    /// The sounds selected at the last save.
    SoundTracks currentSoundTracks{SoundTrack::rain};
    SelectionMode selectionMode = SelectionMode::single;
    /// Per-sound volume in the current mix, 0 to 1.
    MixVolumes soundTracksMixVolume;
    bool audioAllowsMixWithOthers = false;
    SoundSettings soundSettings;

    /// The defaults: rain alone, single mode, no mix volumes, no mixing with others.
    NoisePlayerSettings() = default;
    /// Every field, in the order the settings are usually thought of (selection first).
    NoisePlayerSettings(SoundTracks currentSoundTracks, SelectionMode selectionMode,
                        SoundSettings soundSettings, MixVolumes soundTracksMixVolume,
                        bool audioAllowsMixWithOthers, FadeTiming fadeTiming);

    static NoisePlayerSettings defaultValue() { return {}; }

    NoisePlayerSettings withFadeTiming(FadeTiming value) const;
    NoisePlayerSettings withCurrentSoundTracks(SoundTracks value) const;
    NoisePlayerSettings withSelectionMode(SelectionMode value) const;
    NoisePlayerSettings withSoundTracksMixVolume(MixVolumes value) const;
    NoisePlayerSettings withAudioAllowsMixWithOthers(bool value) const;
    NoisePlayerSettings withSoundSettings(SoundSettings value) const;

    /// The stored form: one object with all six keys; the mix volumes as a flat array alternating a
    /// sound's raw value and its volume.
    nlohmann::json toJSON() const;
    /// Reads the stored form. "audioAllowsMixWithOthers" (false) and "fadeTiming" (the default fade
    /// times) may be absent; anything else missing, of the wrong type, or naming no sound or mode
    /// throws `json::DecodingError`.
    static NoisePlayerSettings fromJSON(const nlohmann::json& json);

    /// `toJSON` as compact text, as stored.
    std::string encode() const;
    /// Parses and reads stored text; throws `json::DecodingError`.
    static NoisePlayerSettings decode(std::string_view text);

    friend bool operator==(const NoisePlayerSettings&, const NoisePlayerSettings&) = default;
};

} // namespace somnara
