#pragma once

#include <charconv>
#include <optional>
#include <string>

namespace somnara {

/// What the noise player is doing. Two cases carry the length of the fade they are running; two
/// states are equal when they have the same case and, for those two cases, equal lengths.
///
/// A plain value: copy it anywhere, on any thread.
class NoisePlayerState {
public:
    enum class Case { sleepFadeOut, stopping, playing, interrupted, stopped };

    /// The initial state of a player.
    constexpr NoisePlayerState() noexcept = default;

    /// The sleep timer's final fade to silence is running, over `length` seconds.
    static constexpr NoisePlayerState sleepFadeOut(double length) noexcept {
        return {Case::sleepFadeOut, length};
    }
    /// A stop with a fade out of `length` seconds is running.
    static constexpr NoisePlayerState stopping(double length) noexcept { return {Case::stopping, length}; }
    static constexpr NoisePlayerState playing() noexcept { return {Case::playing, 0}; }
    /// Paused, by a pause or an interruption.
    static constexpr NoisePlayerState interrupted() noexcept { return {Case::interrupted, 0}; }
    static constexpr NoisePlayerState stopped() noexcept { return {Case::stopped, 0}; }

    constexpr Case kind() const noexcept { return case_; }
    constexpr bool hasLength() const noexcept {
        return case_ == Case::sleepFadeOut || case_ == Case::stopping;
    }
    /// The fade's length for the two fading cases; none for the others.
    constexpr std::optional<double> length() const noexcept {
        return hasLength() ? std::optional<double>{length_} : std::nullopt;
    }

    constexpr bool isPlaying() const noexcept { return case_ == Case::playing; }

    friend constexpr bool operator==(const NoisePlayerState& lhs, const NoisePlayerState& rhs) noexcept {
        if (lhs.case_ != rhs.case_) {
            return false;
        }
        // The payload-free cases ignore whatever length they were built with.
        return !lhs.hasLength() || lhs.length_ == rhs.length_;
    }

    /// The case name, with the fade length for the two fading cases: "playing", "stopping(length: 2.5)".
    std::string description() const {
        std::string name;
        switch (case_) {
        case Case::sleepFadeOut:
            name = "sleepFadeOut";
            break;
        case Case::stopping:
            name = "stopping";
            break;
        case Case::playing:
            return "playing";
        case Case::interrupted:
            return "interrupted";
        case Case::stopped:
            return "stopped";
        }
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, length_);
        std::string number(buffer, result.ptr);
        // Whole seconds keep a fractional digit, so "2.0" reads as a duration, not a count.
        if (number.find_first_of(".eE") == std::string::npos &&
            number.find_first_of("0123456789") != std::string::npos) {
            number += ".0";
        }
        return name + "(length: " + number + ")";
    }

private:
    constexpr NoisePlayerState(Case kind, double length) noexcept : case_(kind), length_(length) {}

    Case case_ = Case::stopped;
    double length_ = 0;
};

} // namespace somnara
