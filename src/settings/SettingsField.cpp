#include <somnara/settings/SettingsField.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace somnara {

namespace {

using Settings = NoisePlayerSettings;
using Kind = SettingsField::Kind;

constexpr ClosedRange<double> widened(ClosedRange<float> range) {
    return {static_cast<double>(range.lowerBound), static_cast<double>(range.upperBound)};
}

// Fade times that no screen bounds: any duration.
constexpr ClosedRange<double> anyDuration{0.0, std::numeric_limits<double>::infinity()};

/// A field with how to read and write it; floats are stored as floats, so their text is the float's.
struct Entry {
    SettingsField field;
    double (*get)(const Settings&);
    void (*set)(Settings&, double);
    bool isFloat;
};

SettingsField described(std::string path, std::string description, std::string unit, Kind kind,
                        ClosedRange<double> range) {
    SettingsField field;
    field.path = std::move(path);
    field.description = std::move(description);
    field.unit = std::move(unit);
    field.kind = kind;
    field.range = range;
    return field;
}

const std::vector<Entry>& entries() {
    using S = SoundSettings;
    using F = Settings::FadeTiming;
    static const std::vector<Entry> table{
        {described("volume", "Volume of everything the app plays", "", Kind::number,
                   widened(S::appVolumeRange)),
         [](const Settings& s) -> double { return s.soundSettings.volume; },
         [](Settings& s, double v) { s.soundSettings.volume = static_cast<float>(v); }, true},
        {described("speed", "Playback rate (pitch follows)", "×", Kind::number, widened(S::speedRange)),
         [](const Settings& s) -> double { return s.soundSettings.speed; },
         [](Settings& s, double v) { s.soundSettings.speed = static_cast<float>(v); }, true},
        {described("reverb", "Reverb, percent wet", "%", Kind::number, widened(S::reverbRange)),
         [](const Settings& s) -> double { return s.soundSettings.reverb; },
         [](Settings& s, double v) { s.soundSettings.reverb = static_cast<float>(v); }, true},
        {described("pitch", "Pitch shift", "cents", Kind::number, widened(S::pitchRange)),
         [](const Settings& s) -> double { return s.soundSettings.pitch; },
         [](Settings& s, double v) { s.soundSettings.pitch = static_cast<float>(v); }, true},
        {described("equalizerGainLevels", "Equaliser gains, lowest band first", "dB", Kind::gains,
                   widened(S::equalizerGainRange)),
         nullptr, nullptr, false},
        {described("oscillation.rate", "Seconds for one sweep of the slow pan", "s", Kind::number,
                   S::oscillationRateRange),
         [](const Settings& s) { return s.soundSettings.oscillation.rate; },
         [](Settings& s, double v) { s.soundSettings.oscillation.rate = v; }, false},
        {described("oscillation.strength", "How far the slow pan swings", "", Kind::number,
                   widened(S::oscillationStrengthRange)),
         [](const Settings& s) -> double { return s.soundSettings.oscillation.strength; },
         [](Settings& s, double v) { s.soundSettings.oscillation.strength = static_cast<float>(v); }, true},
        {described("delay.time", "Echo delay", "s", Kind::number, S::Delay::timeRange),
         [](const Settings& s) { return s.soundSettings.delay.time; },
         [](Settings& s, double v) { s.soundSettings.delay.time = v; }, false},
        {described("delay.feedback", "Echo fed back", "%", Kind::number, widened(S::Delay::feedbackRange)),
         [](const Settings& s) -> double { return s.soundSettings.delay.feedback; },
         [](Settings& s, double v) { s.soundSettings.delay.feedback = static_cast<float>(v); }, true},
        {described("delay.mix", "Echo, percent wet", "%", Kind::number, widened(S::Delay::mixRange)),
         [](const Settings& s) -> double { return s.soundSettings.delay.mix; },
         [](Settings& s, double v) { s.soundSettings.delay.mix = static_cast<float>(v); }, true},
        {described("fadeTiming.crossFade", "Fade between two selections", "s", Kind::number,
                   F::crossFadeRange),
         [](const Settings& s) { return s.fadeTiming.crossFade; },
         [](Settings& s, double v) { s.fadeTiming.crossFade = v; }, false},
        {described("fadeTiming.start", "Fade in at play", "s", Kind::number, F::startRange),
         [](const Settings& s) { return s.fadeTiming.start; },
         [](Settings& s, double v) { s.fadeTiming.start = v; }, false},
        {described("fadeTiming.fromInterrupt", "Fade in after an interruption", "s", Kind::number,
                   anyDuration),
         [](const Settings& s) { return s.fadeTiming.fromInterrupt; },
         [](Settings& s, double v) { s.fadeTiming.fromInterrupt = v; }, false},
        {described("fadeTiming.stop", "Fade out at stop", "s", Kind::number, anyDuration),
         [](const Settings& s) { return s.fadeTiming.stop; },
         [](Settings& s, double v) { s.fadeTiming.stop = v; }, false},
        {described("fadeTiming.add", "Fade in of an added sound", "s", Kind::number, F::addRange),
         [](const Settings& s) { return s.fadeTiming.add; },
         [](Settings& s, double v) { s.fadeTiming.add = v; }, false},
        {described("fadeTiming.remove", "Fade out of a removed sound", "s", Kind::number, F::removeRange),
         [](const Settings& s) { return s.fadeTiming.remove; },
         [](Settings& s, double v) { s.fadeTiming.remove = v; }, false},
        {described("fadeTiming.sleepEnd", "Fade out when the sleep timer ends", "s", Kind::number,
                   F::sleepRange),
         [](const Settings& s) { return s.fadeTiming.sleepEnd; },
         [](Settings& s, double v) { s.fadeTiming.sleepEnd = v; }, false},
        {described("audioAllowsMixWithOthers", "Let other apps' audio play alongside", "", Kind::flag,
                   {0.0, 1.0}),
         [](const Settings& s) { return s.audioAllowsMixWithOthers ? 1.0 : 0.0; },
         [](Settings& s, double v) { s.audioAllowsMixWithOthers = v != 0.0; }, false},
    };
    return table;
}

const Entry* entryNamed(std::string_view path) {
    const auto& table = entries();
    const auto found = std::find_if(table.begin(), table.end(),
                                    [&](const Entry& entry) { return entry.field.path == path; });
    return found == table.end() ? nullptr : &*found;
}

constexpr std::string_view bandPrefix = "eq.";

std::optional<int> bandNamed(std::string_view path) {
    if (!path.starts_with(bandPrefix)) {
        return std::nullopt;
    }
    const auto digits = path.substr(bandPrefix.size());
    int band = -1;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), band);
    if (error != std::errc{} || end != digits.data() + digits.size() || band < 0 ||
        band >= SoundSettings::equalizerBandsCount) {
        return std::nullopt;
    }
    return band;
}

template <class T>
std::string shortest(T value) {
    std::array<char, 64> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    return std::string(text.data(), end);
}

/// A finite number written whole (no trailing characters), or none.
std::optional<double> parseNumber(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string_view> splitAtCommas(std::string_view text) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto comma = text.find(',');
        parts.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(comma + 1);
    }
}

std::vector<std::string> groupNames() {
    return {"equalizerGainLevels", "oscillation", "delay", "fadeTiming"};
}

} // namespace

std::span<const SettingsField> SettingsField::all() {
    static const std::vector<SettingsField> fields = [] {
        std::vector<SettingsField> made;
        for (const auto& entry : entries()) {
            made.push_back(entry.field);
        }
        return made;
    }();
    return fields;
}

std::optional<SettingsField> SettingsField::named(std::string_view path) {
    if (const auto* entry = entryNamed(path)) {
        return entry->field;
    }
    if (const auto band = bandNamed(path)) {
        auto field = entryNamed("equalizerGainLevels")->field;
        field.path = std::string(path);
        field.description = "Equaliser band " + std::to_string(*band) + " gain";
        field.kind = Kind::number;
        field.band = band;
        return field;
    }
    return std::nullopt;
}

std::string SettingsField::valueText(const NoisePlayerSettings& settings) const {
    const auto& gains = settings.soundSettings.equalizerGainLevels;
    if (band) {
        return static_cast<std::size_t>(*band) < gains.size()
                   ? shortest(gains[static_cast<std::size_t>(*band)])
                   : shortest(0.0F);
    }
    if (kind == Kind::gains) {
        std::string text;
        for (std::size_t i = 0; i < gains.size(); ++i) {
            text += (i == 0 ? "" : ",") + shortest(gains[i]);
        }
        return text;
    }
    const auto& entry = *entryNamed(path);
    const double value = entry.get(settings);
    if (kind == Kind::flag) {
        return value != 0.0 ? "true" : "false";
    }
    return entry.isFloat ? shortest(static_cast<float>(value)) : shortest(value);
}

std::string SettingsField::allowedText() const {
    if (kind == Kind::flag) {
        return "true or false";
    }
    const auto withUnit = [this](double value) { return shortest(value) + (unit.empty() ? "" : " " + unit); };
    auto text = std::isinf(range.upperBound)
                    ? withUnit(range.lowerBound) + " or more"
                    : shortest(range.lowerBound) + " to " + withUnit(range.upperBound);
    if (kind == Kind::gains) {
        text = std::to_string(SoundSettings::equalizerBandsCount) + " comma-separated gains, each " + text;
    }
    return text;
}

NoisePlayerSettings SettingsField::changed(NoisePlayerSettings settings, std::string_view text) const {
    const auto refuse = [&]() -> std::invalid_argument {
        return std::invalid_argument(path + " cannot be '" + std::string(text) + "': allowed are " +
                                     allowedText());
    };
    if (kind == Kind::flag) {
        if (text != "true" && text != "false") {
            throw refuse();
        }
        entryNamed(path)->set(settings, text == "true" ? 1.0 : 0.0);
        return settings;
    }
    const auto inRange = [&](std::string_view number) {
        const auto value = parseNumber(number);
        if (!value || !range.contains(*value)) {
            throw refuse();
        }
        return *value;
    };
    auto& gains = settings.soundSettings.equalizerGainLevels;
    if (kind == Kind::gains) {
        const auto parts = splitAtCommas(text);
        if (parts.size() != static_cast<std::size_t>(SoundSettings::equalizerBandsCount)) {
            throw refuse();
        }
        std::vector<float> values;
        for (const auto part : parts) {
            values.push_back(static_cast<float>(inRange(part)));
        }
        gains = std::move(values);
        return settings;
    }
    const double value = inRange(text);
    if (band) {
        gains.resize(std::max(gains.size(), static_cast<std::size_t>(*band) + 1), 0.0F);
        gains[static_cast<std::size_t>(*band)] = static_cast<float>(value);
        return settings;
    }
    entryNamed(path)->set(settings, value);
    return settings;
}

NoisePlayerSettings SettingsField::reset(NoisePlayerSettings settings, std::string_view name) {
    const auto defaults = NoisePlayerSettings::defaultValue();
    const auto groups = groupNames();
    const bool isGroup = std::find(groups.begin(), groups.end(), name) != groups.end();
    if (!isGroup) {
        const auto field = named(name);
        if (!field) {
            std::string names;
            for (const auto& group : groups) {
                names += ", " + group;
            }
            throw std::invalid_argument("no setting is called '" + std::string(name) +
                                        "': use a field of `somnara settings`, eq.0 to eq.9" + names);
        }
        return field->changed(std::move(settings), field->valueText(defaults));
    }
    const std::string prefix = std::string(name) + ".";
    for (const auto& field : all()) {
        if (field.path == name || field.path.starts_with(prefix)) {
            settings = field.changed(std::move(settings), field.valueText(defaults));
        }
    }
    return settings;
}

} // namespace somnara
