#pragma once

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/runtime/Date.hpp>

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>
#include <vector>

namespace somnara {

/// One stretch of one sound playing: from `start` until `end`, or still open (`end` absent) while the
/// sound plays or when the process ended before the stop was recorded. Never changed in place: closing
/// an event replaces it by one with the same start and sound and an end. A plain value.
struct PlayEvent {
    Date start;
    SoundTrack soundTrack;
    std::optional<Date> end;

    bool isOpen() const noexcept { return !end.has_value(); }
    /// The same event, closed at `date`.
    PlayEvent closed(Date date) const { return PlayEvent{start, soundTrack, date}; }

    friend bool operator==(const PlayEvent&, const PlayEvent&) = default;
};

/// The stored form of one event: {"start": seconds since the reference date, "soundTrack": raw value,
/// "end": seconds} with "end" left out while the event is open.
nlohmann::json encodePlayEvent(const PlayEvent& event);
/// Reads one event; other keys are ignored, "end" null reads as open. Throws `json::DecodingError`.
PlayEvent decodePlayEvent(const nlohmann::json& object);

/// The whole history as compact JSON text: one array, in the list's order.
std::string encodePlayEvents(const std::vector<PlayEvent>& events);
/// Reads a whole history; one bad element fails the whole text. Throws `json::DecodingError`.
std::vector<PlayEvent> decodePlayEvents(std::string_view text);

} // namespace somnara
