#pragma once

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/system/DetailedErrorDescription.hpp>

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <ranges>
#include <string>
#include <string_view>
#include <vector>

namespace somnara {

/// Analytics events of the library: sent to the analytics library and then to every handler the app
/// registered. The launch argument "-DONTLOGANALYTICS" switches events off (user properties still flow).
///
/// No instances: static operations over process-wide handler lists. Any thread may send; handlers are
/// expected to be added at start-up and are called on the sending thread.
class EventLogger {
public:
    /// Where a sound-track event was triggered.
    enum class CallSite {
        viewController,
        userActivity,
        notification,
        commandCenter,
        spotlight,
        trackList,
        handoff,
        widget
    };

    /// The screen region of an event.
    enum class Placement { tracklist, soundSettings, extras, onboarding, timings, playback };

    /// Parameters and properties are JSON objects whose values are strings, numbers or booleans.
    using Parameters = std::optional<nlohmann::json>;
    using LogEventHandler = std::function<void(const std::string& name, const Parameters& parameters)>;
    using UpdateUserPropertiesHandler = std::function<void(const Parameters& properties)>;

    EventLogger() = delete;

    static void logEvent(std::string name, Parameters parameters);
    /// Sends `name` with {"call_site": the call site's analytics name, "sound_track": the tracks'
    /// identifiers sorted and joined with ":"} (the empty text for no tracks).
    template <std::ranges::input_range SoundTracks>
    requires std::convertible_to<std::ranges::range_reference_t<SoundTracks>, SoundTrack>
    static void logEventSoundTrackEvent(std::string name, CallSite callSite, const SoundTracks& soundtracks) {
        std::vector<SoundTrack> tracks;
        for (const SoundTrack track : soundtracks) {
            tracks.push_back(track);
        }
        logSoundTrackEvent(std::move(name), callSite, tracks);
    }
    static void updateUserProperties(Parameters properties);

    static void add(LogEventHandler logEventHandler);
    static void add(UpdateUserPropertiesHandler updateUserPropertiesHandler);

    /// True when the launch arguments hold "-DONTLOGANALYTICS" exactly.
    static bool isAnalyticsSuppressed();
    /// Replaces the launch arguments read from /proc/self/cmdline (tests); none goes back to them.
    static void setLaunchArgumentsForTesting(std::optional<std::vector<std::string>> arguments);

private:
    static void logSoundTrackEvent(std::string name, CallSite callSite,
                                   const std::vector<SoundTrack>& soundtracks);
};

std::string_view analyticsName(EventLogger::CallSite callSite) noexcept;
std::string_view analyticsName(EventLogger::Placement placement) noexcept;

} // namespace somnara
