#include <somnara/system/EventLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>

namespace somnara {
namespace {

using LogEventHandlers = std::vector<EventLogger::LogEventHandler>;
using UserPropertiesHandlers = std::vector<EventLogger::UpdateUserPropertiesHandler>;

// Handlers are appended at start-up while events may come from any thread: senders take a snapshot
// under a short lock and call it unlocked, so that a handler may send events itself.
struct EventLoggerState {
    std::mutex mutex;
    std::shared_ptr<const LogEventHandlers> logEventHandlers = std::make_shared<const LogEventHandlers>();
    std::shared_ptr<const UserPropertiesHandlers> userPropertiesHandlers =
        std::make_shared<const UserPropertiesHandlers>();
    std::optional<std::vector<std::string>> overriddenArguments;
    std::optional<bool> suppressed;
};

EventLoggerState& state() {
    static EventLoggerState instance;
    return instance;
}

std::vector<std::string> processArguments() {
    // The kernel's copy of argv: NUL-separated, whatever main() later did to its own argv.
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::vector<std::string> arguments;
    std::size_t begin = 0;
    while (begin < content.size()) {
        auto end = content.find('\0', begin);
        if (end == std::string::npos) {
            end = content.size();
        }
        arguments.push_back(content.substr(begin, end - begin));
        begin = end + 1;
    }
    return arguments;
}

template <class List, class Item>
void append(std::shared_ptr<const List>& list, Item item) {
    auto extended = std::make_shared<List>(*list);
    extended->push_back(std::move(item));
    list = std::move(extended);
}

} // namespace

bool EventLogger::isAnalyticsSuppressed() {
    auto& shared = state();
    const std::lock_guard lock(shared.mutex);
    if (!shared.suppressed) {
        // Read once: the launch arguments do not change while the process runs.
        const auto arguments = shared.overriddenArguments ? *shared.overriddenArguments : processArguments();
        shared.suppressed =
            std::find(arguments.begin(), arguments.end(), "-DONTLOGANALYTICS") != arguments.end();
    }
    return *shared.suppressed;
}

void EventLogger::setLaunchArgumentsForTesting(std::optional<std::vector<std::string>> arguments) {
    auto& shared = state();
    const std::lock_guard lock(shared.mutex);
    shared.overriddenArguments = std::move(arguments);
    shared.suppressed.reset();
}

void EventLogger::logEvent(std::string name, Parameters parameters) {
    if (isAnalyticsSuppressed()) {
        return;
    }
    ZelAnalyticsLogger::shared().logEvent(name, parameters);
    std::shared_ptr<const LogEventHandlers> handlers;
    {
        const std::lock_guard lock(state().mutex);
        handlers = state().logEventHandlers;
    }
    for (const auto& handler : *handlers) {
        handler(name, parameters);
    }
}

void EventLogger::logSoundTrackEvent(std::string name, CallSite callSite,
                                     const std::vector<SoundTrack>& soundtracks) {
    std::vector<std::string_view> identifiers;
    identifiers.reserve(soundtracks.size());
    for (const auto track : soundtracks) {
        identifiers.push_back(track.identifier());
    }
    // Sorted by the identifiers' bytes, so that one set always gives one text whatever the language.
    std::ranges::sort(identifiers);
    std::string joined;
    for (const auto identifier : identifiers) {
        if (!joined.empty()) {
            joined += ':';
        }
        joined += identifier;
    }
    logEvent(std::move(name),
             nlohmann::json{{"call_site", analyticsName(callSite)}, {"sound_track", joined}});
}

void EventLogger::updateUserProperties(Parameters properties) {
    ZelAnalyticsLogger::shared().updateUserProperties(properties);
    std::shared_ptr<const UserPropertiesHandlers> handlers;
    {
        const std::lock_guard lock(state().mutex);
        handlers = state().userPropertiesHandlers;
    }
    for (const auto& handler : *handlers) {
        handler(properties);
    }
}

void EventLogger::add(LogEventHandler logEventHandler) {
    const std::lock_guard lock(state().mutex);
    append(state().logEventHandlers, std::move(logEventHandler));
}

void EventLogger::add(UpdateUserPropertiesHandler updateUserPropertiesHandler) {
    const std::lock_guard lock(state().mutex);
    append(state().userPropertiesHandlers, std::move(updateUserPropertiesHandler));
}

std::string_view analyticsName(EventLogger::CallSite callSite) noexcept {
    using enum EventLogger::CallSite;
    switch (callSite) {
    case viewController:
        return "viewcontroller";
    case userActivity:
        return "user_activity";
    case notification:
        return "notification";
    case commandCenter:
        return "command_center";
    case spotlight:
        return "spotlight";
    case trackList:
        return "trackList";
    case handoff:
        return "handoff";
    case widget:
        return "widget";
    }
    return "";
}

std::string_view analyticsName(EventLogger::Placement placement) noexcept {
    using enum EventLogger::Placement;
    switch (placement) {
    case tracklist:
        return "tracklist";
    case soundSettings:
        return "soundSettings";
    case extras:
        return "extras";
    case onboarding:
        return "onboarding";
    case timings:
        return "timings";
    case playback:
        return "playback";
    }
    return "";
}

} // namespace somnara
