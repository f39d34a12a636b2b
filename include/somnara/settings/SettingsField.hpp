#pragma once

#include <somnara/settings/ClosedRange.hpp>
#include <somnara/settings/NoisePlayerSettings.hpp>

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace somnara {

/// One editable field of the settings record, named by its path in the stored JSON form ("speed",
/// "delay.mix", "fadeTiming.start"; "eq.N" is band N of "equalizerGainLevels"), with its unit, the
/// values it allows and how to read and change it. Programs that edit the settings by name (the
/// command line, the daemon's interface) go through these, so that names, ranges and validation live
/// in one place. Plain values, usable on any thread.
struct SettingsField {
    enum class Kind {
        /// A number in `range`.
        number,
        /// true or false.
        flag,
        /// The equaliser's ten gains, each in `range`, written as comma-separated numbers.
        gains,
    };

    std::string path;
    std::string description;
    /// "dB", "s", "%", "cents", "×", or empty.
    std::string unit;
    Kind kind = Kind::number;
    /// For numbers and each gain; an infinite upper bound means "or more".
    ClosedRange<double> range{0.0, 0.0};
    /// The band of an "eq.N" field; none for every other field.
    std::optional<int> band;

    /// Every field in reading order: the sound settings, the fade times, then mixing with others.
    static std::span<const SettingsField> all();
    /// The field called `path`, "eq.0" to "eq.9" included; none for any other name.
    static std::optional<SettingsField> named(std::string_view path);

    /// The field's value in `settings` as text: the shortest number that reads back the same, "true" or
    /// "false", or the gains separated by commas.
    std::string valueText(const NoisePlayerSettings& settings) const;
    /// What the field allows, in words: "0.5 to 2 ×", "0 s or more", "true or false".
    std::string allowedText() const;
    /// `settings` with the field set to `text`. Throws `std::invalid_argument` naming the allowed
    /// values when `text` is not one of them (NaN, infinities and numbers outside the range included).
    NoisePlayerSettings changed(NoisePlayerSettings settings, std::string_view text) const;

    /// `settings` with the field or group called `name` at its default: any field path, or a group
    /// ("equalizerGainLevels", "oscillation", "delay", "fadeTiming"). Throws `std::invalid_argument` for
    /// another name.
    static NoisePlayerSettings reset(NoisePlayerSettings settings, std::string_view name);
};

} // namespace somnara
