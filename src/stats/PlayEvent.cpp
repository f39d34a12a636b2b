#include <somnara/foundation/Json.hpp>
#include <somnara/stats/PlayEvent.hpp>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace somnara {

namespace {

void appendNumber(std::string& out, double value) {
    // The shortest text that reads back to the same double, so a date survives a save and a load
    // unchanged, fraction included.
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendEvent(std::string& out, const PlayEvent& event) {
    if (!std::isfinite(event.start.timeIntervalSinceReferenceDate) ||
        (event.end && !std::isfinite(event.end->timeIntervalSinceReferenceDate))) {
        // JSON has no text for these; fail before anything is written.
        throw std::invalid_argument("a play event's date is not a finite number");
    }
    out += "{\"start\":";
    appendNumber(out, event.start.timeIntervalSinceReferenceDate);
    out += ",\"soundTrack\":";
    out += std::to_string(event.soundTrack.rawValue());
    if (event.end) {
        out += ",\"end\":";
        appendNumber(out, event.end->timeIntervalSinceReferenceDate);
    }
    out += '}';
}

} // namespace

nlohmann::json encodePlayEvent(const PlayEvent& event) {
    std::string text;
    appendEvent(text, event);
    return json::parse(text);
}

PlayEvent decodePlayEvent(const nlohmann::json& object) {
    const Date start = json::toDate(json::member(object, "start"), "start");
    const std::int64_t raw = json::integerMember(object, "soundTrack");
    const auto soundTrack = SoundTrack::fromRawValue(raw);
    if (!soundTrack) {
        throw json::DecodingError("soundTrack: " + std::to_string(raw) + " is not a sound track");
    }
    PlayEvent event{start, *soundTrack, std::nullopt};
    if (const auto* end = json::optionalMember(object, "end")) {
        event.end = json::toDate(*end, "end");
    }
    return event;
}

std::string encodePlayEvents(const std::vector<PlayEvent>& events) {
    // Written by hand rather than through a JSON tree: the history is rewritten whole on every change
    // and only grows, so its save should cost little more than the bytes themselves.
    std::string text;
    text.reserve(events.size() * 64 + 2);
    text += '[';
    for (std::size_t index = 0; index < events.size(); ++index) {
        if (index > 0) {
            text += ',';
        }
        appendEvent(text, events[index]);
    }
    text += ']';
    return text;
}

std::vector<PlayEvent> decodePlayEvents(std::string_view text) {
    const nlohmann::json document = json::parse(text);
    if (!document.is_array()) {
        throw json::DecodingError(std::string("play events: expected an array, found ") +
                                  document.type_name());
    }
    std::vector<PlayEvent> events;
    events.reserve(document.size());
    for (const auto& element : document) {
        events.push_back(decodePlayEvent(element));
    }
    return events;
}

} // namespace somnara
