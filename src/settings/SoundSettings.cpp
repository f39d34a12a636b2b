#include <somnara/foundation/CopyWith.hpp>
#include <somnara/foundation/Json.hpp>
#include <somnara/settings/SoundSettings.hpp>

#include <algorithm>
#include <cmath>

namespace somnara {

using Json = nlohmann::json;

SoundSettings::Oscillation SoundSettings::Oscillation::withRate(double value) const noexcept {
    return copyWith(*this, &SoundSettings::Oscillation::rate, value);
}

SoundSettings::Oscillation SoundSettings::Oscillation::withStrength(float value) const noexcept {
    return copyWith(*this, &SoundSettings::Oscillation::strength, value);
}

SoundSettings::Delay SoundSettings::Delay::withTime(double value) const noexcept {
    return copyWith(*this, &SoundSettings::Delay::time, value);
}

SoundSettings::Delay SoundSettings::Delay::withFeedback(float value) const noexcept {
    return copyWith(*this, &SoundSettings::Delay::feedback, value);
}

SoundSettings::Delay SoundSettings::Delay::withMix(float value) const noexcept {
    return copyWith(*this, &SoundSettings::Delay::mix, value);
}

std::optional<SoundSettings::Preset> SoundSettings::presetFromRawValue(std::int64_t rawValue) noexcept {
    if (rawValue < 0 || rawValue >= static_cast<std::int64_t>(allPresets.size())) {
        return std::nullopt;
    }
    return allPresets[static_cast<std::size_t>(rawValue)];
}

SoundSettings SoundSettings::soundSettings(Preset preset) {
    SoundSettings settings;
    switch (preset) {
    case Preset::defaultPreset:
        break;
    case Preset::distant:
        settings.reverb = 30.0F;
        break;
    case Preset::echo:
        settings.delay = Delay{2.0, -50.0F, 5.0F};
        break;
    case Preset::bassBoost:
        settings.equalizerGainLevels[0] = 20.0F;
        break;
    case Preset::lowPass:
        // Band 0 is the lowest band of the equaliser.
        settings.equalizerGainLevels[0] = -96.0F;
        settings.equalizerGainLevels[1] = -24.0F;
        settings.equalizerGainLevels[2] = 12.0F;
        break;
    case Preset::highPass:
        settings.equalizerGainLevels[7] = 12.0F;
        settings.equalizerGainLevels[8] = -24.0F;
        settings.equalizerGainLevels[9] = -96.0F;
        break;
    case Preset::slow:
        settings.speed = 0.5F;
        break;
    }
    return settings;
}

std::string_view presetName(SoundSettings::Preset preset) noexcept {
    switch (preset) {
    case SoundSettings::Preset::defaultPreset:
        return "default";
    case SoundSettings::Preset::distant:
        return "distant";
    case SoundSettings::Preset::echo:
        return "echo";
    case SoundSettings::Preset::bassBoost:
        return "bassBoost";
    case SoundSettings::Preset::lowPass:
        return "lowPass";
    case SoundSettings::Preset::highPass:
        return "highPass";
    case SoundSettings::Preset::slow:
        return "slow";
    }
    return "unknown";
}

SoundSettings SoundSettings::withVolume(float value) const {
    return copyWith(*this, &SoundSettings::volume, value);
}

SoundSettings SoundSettings::withSpeed(float value) const {
    return copyWith(*this, &SoundSettings::speed, value);
}

SoundSettings SoundSettings::withReverb(float value) const {
    return copyWith(*this, &SoundSettings::reverb, value);
}

SoundSettings SoundSettings::withEqualizerGainLevels(std::vector<float> value) const {
    return copyWith(*this, &SoundSettings::equalizerGainLevels, std::move(value));
}

SoundSettings SoundSettings::withPitch(float value) const {
    return copyWith(*this, &SoundSettings::pitch, value);
}

SoundSettings SoundSettings::withOscillation(Oscillation value) const {
    return copyWith(*this, &SoundSettings::oscillation, value);
}

SoundSettings SoundSettings::withDelay(Delay value) const {
    return copyWith(*this, &SoundSettings::delay, value);
}

bool SoundSettings::isFinite() const {
    const auto finite = [](auto value) { return std::isfinite(value); };
    return std::all_of(equalizerGainLevels.begin(), equalizerGainLevels.end(), finite) && finite(volume) &&
           finite(speed) && finite(reverb) && finite(pitch) && finite(oscillation.rate) &&
           finite(oscillation.strength) && finite(delay.time) && finite(delay.feedback) && finite(delay.mix);
}

bool SoundSettings::isDefault() const {
    return *this == defaultValue();
}

bool SoundSettings::isEqualizerGainLevelsDefault() const {
    return equalizerGainLevels == std::vector<float>(equalizerBandsCount, 0.0F);
}

Json SoundSettings::toJSON() const {
    Json gains = Json::array();
    for (const float gain : equalizerGainLevels) {
        gains.push_back(json::fromFloat(gain));
    }
    Json result = Json::object();
    result["volume"] = json::fromFloat(volume);
    result["speed"] = json::fromFloat(speed);
    result["reverb"] = json::fromFloat(reverb);
    result["equalizerGainLevels"] = std::move(gains);
    result["pitch"] = json::fromFloat(pitch);
    result["oscillation"] =
        Json::object({{"rate", oscillation.rate}, {"strength", json::fromFloat(oscillation.strength)}});
    result["delay"] = Json::object({{"time", delay.time},
                                    {"feedback", json::fromFloat(delay.feedback)},
                                    {"mix", json::fromFloat(delay.mix)}});
    return result;
}

SoundSettings SoundSettings::fromJSON(const Json& value) {
    SoundSettings settings;
    if (const auto* stored = json::optionalMember(value, "volume")) {
        settings.volume = json::toFloat(*stored, "volume");
    }
    settings.speed = json::floatMember(value, "speed");
    settings.reverb = json::floatMember(value, "reverb");
    if (const auto* stored = json::optionalMember(value, "equalizerGainLevels")) {
        if (!stored->is_array()) {
            throw json::DecodingError("equalizerGainLevels: expected an array");
        }
        // Any length is kept as stored: the equaliser set-up decides what to do with extra or missing bands.
        settings.equalizerGainLevels.clear();
        for (const auto& gain : *stored) {
            settings.equalizerGainLevels.push_back(json::toFloat(gain, "equalizerGainLevels"));
        }
    }
    settings.pitch = json::floatMember(value, "pitch");
    if (const auto* stored = json::optionalMember(value, "oscillation")) {
        settings.oscillation.rate = json::doubleMember(*stored, "rate");
        settings.oscillation.strength = json::floatMember(*stored, "strength");
    }
    if (const auto* stored = json::optionalMember(value, "delay")) {
        settings.delay.time = json::doubleMember(*stored, "time");
        settings.delay.feedback = json::floatMember(*stored, "feedback");
        settings.delay.mix = json::floatMember(*stored, "mix");
    }
    return settings;
}

} // namespace somnara
