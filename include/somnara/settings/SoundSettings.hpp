#pragma once

#include <somnara/settings/ClosedRange.hpp>

#include <nlohmann/json_fwd.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace somnara {

/// The effect parameters of the player: master volume, speed, reverb, a ten-band equaliser, pitch, the
/// pan oscillation and the delay. A plain value: copied, compared exactly and replaced whole; the
/// `with...` operations build changed copies. Nothing is clamped to the published ranges, which are
/// there for the screens that edit the values.
struct SoundSettings {
    /// How the pan swings from side to side.
    struct Oscillation {
        /// Seconds for one sweep of the pan from one side to the other.
        double rate = 10.0;
        /// How far from the centre the pan swings, 0 (not at all) to 1.
        float strength = 0.0F;

        static Oscillation defaultValue() noexcept { return {}; }

        Oscillation withRate(double value) const noexcept;
        Oscillation withStrength(float value) const noexcept;

        friend bool operator==(const Oscillation&, const Oscillation&) = default;
    };

    /// The echo: a delay line with feedback, mixed into the dry sound.
    struct Delay {
        static constexpr ClosedRange<double> timeRange{0.0, 2.0};
        static constexpr ClosedRange<float> feedbackRange{-100.0F, 100.0F};
        static constexpr ClosedRange<float> mixRange{0.0F, 100.0F};

        /// Seconds.
        double time = 1.0;
        /// Percent of the output fed back into the line.
        float feedback = 0.0F;
        /// Percent wet.
        float mix = 0.0F;

        static Delay defaultValue() noexcept { return {}; }

        Delay withTime(double value) const noexcept;
        Delay withFeedback(float value) const noexcept;
        Delay withMix(float value) const noexcept;

        friend bool operator==(const Delay&, const Delay&) = default;
    };

    /// Seven fixed effect settings, stored by raw value.
    enum class Preset : std::int64_t {
        defaultPreset = 0,
        distant = 1,
        echo = 2,
        bassBoost = 3,
        lowPass = 4,
        highPass = 5,
        slow = 6
    };

    static constexpr int equalizerBandsCount = 10;

    static constexpr ClosedRange<float> appVolumeRange{0.0F, 1.0F};
    static constexpr ClosedRange<float> speedRange{0.5F, 2.0F};
    static constexpr ClosedRange<float> reverbRange{0.0F, 60.0F};
    static constexpr ClosedRange<float> equalizerGainRange{-96.0F, 24.0F};
    static constexpr ClosedRange<float> pitchRange{-500.0F, 200.0F};
    /// Band width in octaves, for setting up the equaliser.
    static constexpr ClosedRange<float> bandwidthRange{0.5F, 4.0F};
    static constexpr ClosedRange<float> systemVolumeRange{0.0F, 1.0F};
    static constexpr ClosedRange<double> oscillationRateRange{0.5, 30.0};
    static constexpr ClosedRange<float> oscillationStrengthRange{0.0F, 1.0F};

    static constexpr std::array<Preset, 7> allPresets{
        Preset::defaultPreset, Preset::distant,  Preset::echo, Preset::bassBoost,
        Preset::lowPass,       Preset::highPass, Preset::slow};

    float volume = 1.0F;
    /// Playback rate factor.
    float speed = 1.0F;
    float reverb = 0.0F;
    /// One gain per equaliser band in decibels, the lowest band first.
    std::vector<float> equalizerGainLevels = std::vector<float>(equalizerBandsCount, 0.0F);
    float pitch = 0.0F;
    Oscillation oscillation;
    Delay delay;

    static SoundSettings defaultValue() { return {}; }

    /// The preset of a stored raw value; none for a number outside 0 to 6.
    static std::optional<Preset> presetFromRawValue(std::int64_t rawValue) noexcept;
    /// The default settings with the preset's changes.
    static SoundSettings soundSettings(Preset preset);

    SoundSettings withVolume(float value) const;
    SoundSettings withSpeed(float value) const;
    SoundSettings withReverb(float value) const;
    SoundSettings withEqualizerGainLevels(std::vector<float> value) const;
    SoundSettings withPitch(float value) const;
    SoundSettings withOscillation(Oscillation value) const;
    SoundSettings withDelay(Delay value) const;

    /// Whether every value is a finite number: a NaN or an infinity has no stored form.
    bool isFinite() const;
    bool isDefault() const;
    bool isVolumeDefault() const noexcept { return volume == 1.0F; }
    bool isSpeedDefault() const noexcept { return speed == 1.0F; }
    bool isReverbDefault() const noexcept { return reverb == 0.0F; }
    bool isPitchDefault() const noexcept { return pitch == 0.0F; }
    /// Ten zeros exactly: a longer or shorter array of zeros is not the default.
    bool isEqualizerGainLevelsDefault() const;
    bool isOscillationDefault() const noexcept { return oscillation == Oscillation::defaultValue(); }
    bool isDelayDefault() const noexcept { return delay == Delay::defaultValue(); }

    /// The stored form: every key written, floats in their shortest form.
    nlohmann::json toJSON() const;
    /// Reads the stored form: "volume", "equalizerGainLevels", "oscillation" and "delay" may be absent
    /// and take their defaults; anything else missing or of the wrong type throws
    /// `json::DecodingError`.
    static SoundSettings fromJSON(const nlohmann::json& json);

    friend bool operator==(const SoundSettings&, const SoundSettings&) = default;
};

constexpr std::int64_t rawValue(SoundSettings::Preset preset) noexcept {
    return static_cast<std::int64_t>(preset);
}

/// The preset's name as written in code ("default", "distant", "bassBoost", ...), for logs and commands.
std::string_view presetName(SoundSettings::Preset preset) noexcept;

} // namespace somnara
