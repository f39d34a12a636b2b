#include <somnara/foundation/CopyWith.hpp>
#include <somnara/foundation/Json.hpp>
#include <somnara/settings/NoisePlayerSettings.hpp>

#include <nlohmann/json.hpp>

namespace somnara {

using Json = nlohmann::json;

using FadeTiming = NoisePlayerSettings::FadeTiming;

FadeTiming FadeTiming::withCrossFade(double value) const noexcept {
    return copyWith(*this, &FadeTiming::crossFade, value);
}

FadeTiming FadeTiming::withStart(double value) const noexcept {
    return copyWith(*this, &FadeTiming::start, value);
}

FadeTiming FadeTiming::withAdd(double value) const noexcept {
    return copyWith(*this, &FadeTiming::add, value);
}

FadeTiming FadeTiming::withRemove(double value) const noexcept {
    return copyWith(*this, &FadeTiming::remove, value);
}

FadeTiming FadeTiming::withSleepEnd(double value) const noexcept {
    return copyWith(*this, &FadeTiming::sleepEnd, value);
}

Json FadeTiming::toJSON() const {
    return Json::object({{"crossFade", crossFade},
                         {"start", start},
                         {"fromInterrupt", fromInterrupt},
                         {"stop", stop},
                         {"add", add},
                         {"remove", remove},
                         {"sleepEnd", sleepEnd}});
}

FadeTiming FadeTiming::fromJSON(const Json& value) {
    FadeTiming timing;
    timing.crossFade = json::doubleMember(value, "crossFade");
    timing.start = json::doubleMember(value, "start");
    timing.fromInterrupt = json::doubleMember(value, "fromInterrupt");
    timing.stop = json::doubleMember(value, "stop");
    timing.add = json::doubleMember(value, "add");
    timing.remove = json::doubleMember(value, "remove");
    timing.sleepEnd = json::doubleMember(value, "sleepEnd");
    return timing;
}

NoisePlayerSettings::NoisePlayerSettings(SoundTracks currentSoundTracks, SelectionMode selectionMode,
                                         SoundSettings soundSettings, MixVolumes soundTracksMixVolume,
                                         bool audioAllowsMixWithOthers, FadeTiming fadeTiming)
    : fadeTiming(fadeTiming), currentSoundTracks(std::move(currentSoundTracks)), selectionMode(selectionMode),
      soundTracksMixVolume(std::move(soundTracksMixVolume)),
      audioAllowsMixWithOthers(audioAllowsMixWithOthers), soundSettings(std::move(soundSettings)) {}

NoisePlayerSettings NoisePlayerSettings::withFadeTiming(FadeTiming value) const {
    return copyWith(*this, &NoisePlayerSettings::fadeTiming, value);
}

NoisePlayerSettings NoisePlayerSettings::withCurrentSoundTracks(SoundTracks value) const {
    return copyWith(*this, &NoisePlayerSettings::currentSoundTracks, std::move(value));
}

NoisePlayerSettings NoisePlayerSettings::withSelectionMode(SelectionMode value) const {
    return copyWith(*this, &NoisePlayerSettings::selectionMode, value);
}

NoisePlayerSettings NoisePlayerSettings::withSoundTracksMixVolume(MixVolumes value) const {
    return copyWith(*this, &NoisePlayerSettings::soundTracksMixVolume, std::move(value));
}

NoisePlayerSettings NoisePlayerSettings::withAudioAllowsMixWithOthers(bool value) const {
    return copyWith(*this, &NoisePlayerSettings::audioAllowsMixWithOthers, value);
}

NoisePlayerSettings NoisePlayerSettings::withSoundSettings(SoundSettings value) const {
    return copyWith(*this, &NoisePlayerSettings::soundSettings, std::move(value));
}

namespace {

SoundTrack soundTrackFromJSON(const Json& value, std::string_view what) {
    const auto rawValue = json::toInteger(value, what);
    const auto soundTrack = SoundTrack::fromRawValue(rawValue);
    if (!soundTrack) {
        throw json::DecodingError(std::string(what) + ": no sound track has the raw value " +
                                  std::to_string(rawValue));
    }
    return *soundTrack;
}

const Json& arrayMember(const Json& object, std::string_view key) {
    const auto& value = json::member(object, key);
    if (!value.is_array()) {
        throw json::DecodingError(std::string(key) + ": expected an array, found " + value.type_name());
    }
    return value;
}

} // namespace

Json NoisePlayerSettings::toJSON() const {
    Json soundTracks = Json::array();
    for (const auto soundTrack : currentSoundTracks) {
        soundTracks.push_back(soundTrack.rawValue());
    }
    // The key is a sound, which is neither a string nor a plain integer key: the stored form is a flat
    // array alternating key and value.
    Json volumes = Json::array();
    for (const auto& [soundTrack, volume] : soundTracksMixVolume) {
        volumes.push_back(soundTrack.rawValue());
        volumes.push_back(json::fromFloat(volume));
    }
    Json result = Json::object();
    result["fadeTiming"] = fadeTiming.toJSON();
    result["currentSoundTracks"] = std::move(soundTracks);
    result["selectionMode"] = rawValue(selectionMode);
    result["soundTracksMixVolume"] = std::move(volumes);
    result["audioAllowsMixWithOthers"] = audioAllowsMixWithOthers;
    result["soundSettings"] = soundSettings.toJSON();
    return result;
}

NoisePlayerSettings NoisePlayerSettings::fromJSON(const Json& value) {
    NoisePlayerSettings settings;

    settings.currentSoundTracks.clear();
    for (const auto& element : arrayMember(value, "currentSoundTracks")) {
        settings.currentSoundTracks.insert(soundTrackFromJSON(element, "currentSoundTracks"));
    }

    const auto modeRawValue = json::integerMember(value, "selectionMode");
    const auto mode = selectionModeFromRawValue(modeRawValue);
    if (!mode) {
        throw json::DecodingError("selectionMode: no selection mode has the raw value " +
                                  std::to_string(modeRawValue));
    }
    settings.selectionMode = *mode;

    settings.soundSettings = SoundSettings::fromJSON(json::member(value, "soundSettings"));

    const auto& volumes = arrayMember(value, "soundTracksMixVolume");
    if (volumes.size() % 2 != 0) {
        throw json::DecodingError("soundTracksMixVolume: a sound without its volume");
    }
    for (std::size_t i = 0; i < volumes.size(); i += 2) {
        const auto soundTrack = soundTrackFromJSON(volumes[i], "soundTracksMixVolume");
        // A sound listed twice keeps its last volume, as a dictionary read from pairs does.
        settings.soundTracksMixVolume.insert_or_assign(soundTrack,
                                                       json::toFloat(volumes[i + 1], "soundTracksMixVolume"));
    }

    if (const auto* stored = json::optionalMember(value, "audioAllowsMixWithOthers")) {
        settings.audioAllowsMixWithOthers = json::toBool(*stored, "audioAllowsMixWithOthers");
    }
    if (const auto* stored = json::optionalMember(value, "fadeTiming")) {
        settings.fadeTiming = FadeTiming::fromJSON(*stored);
    }
    return settings;
}

std::string NoisePlayerSettings::encode() const {
    return json::dump(toJSON());
}

NoisePlayerSettings NoisePlayerSettings::decode(std::string_view text) {
    return fromJSON(json::parse(text));
}

} // namespace somnara
