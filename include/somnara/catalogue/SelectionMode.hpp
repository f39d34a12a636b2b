#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace somnara {

/// Whether one sound plays at a time or several are mixed. Stored as its raw value (0 or 1), so the
/// numbers must never change.
///
/// It lives beside the catalogue rather than with the selection that enforces its rules because the
/// settings record stores it, and the settings come before the selection.
enum class SelectionMode : std::int64_t { single = 0, multiple = 1 };

constexpr std::int64_t rawValue(SelectionMode mode) noexcept {
    return static_cast<std::int64_t>(mode);
}

/// The mode of a stored raw value; none for a number that names no mode.
constexpr std::optional<SelectionMode> selectionModeFromRawValue(std::int64_t raw) noexcept {
    switch (raw) {
    case 0:
        return SelectionMode::single;
    case 1:
        return SelectionMode::multiple;
    default:
        return std::nullopt;
    }
}

/// "single" or "multiple", for command lines and log lines.
constexpr std::string_view selectionModeName(SelectionMode mode) noexcept {
    return mode == SelectionMode::single ? "single" : "multiple";
}

} // namespace somnara
