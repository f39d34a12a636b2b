// The noise player's share of the system's audio: the category it asks for, activation around the
// engine, and its answers to interruptions, route changes and the sound server going away.

#include <somnara/player/NoisePlayer.hpp>
#include <somnara/runtime/NotificationCenter.hpp>
#include <somnara/runtime/StreamOperators.hpp>
#include <somnara/system/EventLogger.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <algorithm>
#include <any>
#include <cmath>
#include <ctime>
#include <sstream>

namespace somnara {

namespace {

void debug(std::string message) {
    SomnaraLogger::log(std::move(message), LogType::debug);
}

/// The notification's name and the numbers it carries, for log lines.
std::string describe(const Notification& notification) {
    std::ostringstream text;
    text << notification.name << " {";
    const char* separator = "";
    for (const auto& [key, value] : notification.userInfo) {
        text << separator << key;
        if (const auto* number = std::any_cast<std::uint64_t>(&value)) {
            text << ": " << *number;
        }
        separator = ", ";
    }
    text << "}";
    return text.str();
}

std::optional<std::uint64_t> number(const Notification& notification, const char* key) {
    const auto found = notification.userInfo.find(key);
    if (found == notification.userInfo.end()) {
        return std::nullopt;
    }
    if (const auto* value = std::any_cast<std::uint64_t>(&found->second)) {
        return *value;
    }
    return std::nullopt;
}

/// A date as people read it in a log line, in UTC.
std::string dateText(Date date) {
    const auto seconds = static_cast<std::time_t>(std::floor(date.timeIntervalSince1970()));
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc);
    return text;
}

bool containsSpeaker(const std::vector<AudioSessionPortDescription>& outputs) {
    return std::any_of(outputs.begin(), outputs.end(), [](const AudioSessionPortDescription& port) {
        return port.portType == AudioSessionPort::builtInSpeaker || port.portName == "Speaker";
    });
}

/// Stops the player without a fade in a task of its own.
void stopAtOnce(const std::weak_ptr<NoisePlayer>& weakPlayer) {
    spawn([weakPlayer]() -> asio::awaitable<void> {
        if (auto player = weakPlayer.lock()) {
            auto stop = player->stop(0);
            co_await stop.value();
        }
    });
}

} // namespace

void NoisePlayer::setSessionState(SessionState state) {
    debug(std::string("Session state changed to ") + sessionStateName(state));
    sessionState_ = state;
    spawn([weak = weak_from_this()]() -> asio::awaitable<void> {
        if (auto self = weak.lock()) {
            self->sessionStateSubject_->send(self->sessionState_);
        }
        co_return;
    });
}

void NoisePlayer::setCategory(bool allowsMixWithOthers) {
    platform_.session->setCategory(allowsMixWithOthers ? AudioSession::RouteSharingPolicy::defaultPolicy
                                                       : AudioSession::RouteSharingPolicy::longFormAudio,
                                   allowsMixWithOthers);
}

asio::awaitable<void> NoisePlayer::startSession() {
    debug("Attempting to start session");
    debug("Setting audio category");
    const auto settings = co_await settingsStore_->noisePlayerSettings();
    try {
        setCategory(settings.audioAllowsMixWithOthers);
        debug("Audio category set");
    } catch (const std::exception& error) {
        SomnaraLogger::log(std::string("Failed to set audio category: ") + error.what(), LogType::error);
    }
    platform_.session->setActive(true);
    setSessionState(SessionState::active);
}

void NoisePlayer::stopSession() {
    setSessionState(SessionState::deactivating);
    try {
        platform_.session->setActive(false);
    } catch (const std::exception& error) {
        ZelAnalyticsLogger::shared().loggedAssertionFailure(
            std::string("Failed to set audio session inactive ") + error.what(), sourceFile, "stopSession()",
            __LINE__);
    }
    setSessionState(SessionState::inactive);
}

asio::awaitable<bool> NoisePlayer::audioAllowsMixWithOthers() {
    const auto settings = co_await settingsStore_->noisePlayerSettings();
    co_return settings.audioAllowsMixWithOthers;
}

asio::awaitable<void> NoisePlayer::setAudioAllowsMixWithOthers(bool allows) {
    auto change = [allows](NoisePlayerSettings settings) {
        return settings.withAudioAllowsMixWithOthers(allows);
    };
    co_await settingsStore_->update(change);
    const auto settings = co_await settingsStore_->noisePlayerSettings();
    setCategory(settings.audioAllowsMixWithOthers);
}

void NoisePlayer::registerForNotifications() {
    auto& center = Loop::current().notificationCenter();
    auto self = shared_from_this();

    observationTasks_.push_back(
        observe(self, center.notifications(AudioSession::routeChangeNotification),
                [](NoisePlayer& player, Notification notification) {
                    debug("Route changed " + describe(notification));
                    const auto outputs = player.platform_.session->currentRoute().outputs;
                    if (!outputs.empty()) {
                        EventLogger::logEvent("audio_route_changed",
                                              nlohmann::json{{"output_port", outputs.front().portType}});
                    }
                    // An override is ours (or the user's) to make; later changes are still followed.
                    if (number(notification, AudioSession::routeChangeReasonKey) ==
                        static_cast<std::uint64_t>(AudioSession::RouteChangeReason::override_)) {
                        debug("Route change reason was override. Not doing anything");
                        return;
                    }
                    // Sound that went to headphones or another device never moves to the speaker by itself.
                    const auto& last = player.lastRecordedOutputPort_;
                    const bool lastHadSpeaker =
                        std::any_of(last.begin(), last.end(), [](const AudioSessionPortDescription& port) {
                            return port.portType == AudioSessionPort::builtInSpeaker;
                        });
                    if (!last.empty() && !lastHadSpeaker && containsSpeaker(outputs) &&
                        player.sessionState_ == SessionState::active) {
                        debug("Stopping audio as new route contains speaker");
                        stopAtOnce(player.weak_from_this());
                    }
                    player.lastRecordedOutputPort_ = outputs;
                }));

    observationTasks_.push_back(observe(
        self, center.notifications(AudioSession::interruptionNotification),
        [](NoisePlayer& player, Notification notification) -> asio::awaitable<void> {
            debug("Session Interrupt " + describe(notification));
            const auto type = number(notification, AudioSession::interruptionTypeKey);
            if (type == static_cast<std::uint64_t>(AudioSession::InterruptionType::began)) {
                debug("Interrupt Began");
                if (player.sessionState_ != SessionState::active) {
                    debug(std::string("Not stopping as session state is ") +
                          sessionStateName(player.sessionState_));
                    co_return;
                }
                auto pause = player.pause();
                co_await pause.value();
            } else if (type == static_cast<std::uint64_t>(AudioSession::InterruptionType::ended)) {
                debug("Interrupt Ended");
                co_await player.interruptionEnded(number(notification, AudioSession::interruptionOptionKey));
            } else {
                ZelAnalyticsLogger::shared().loggedAssertionFailure("Unknown interruption type", sourceFile,
                                                                    "registerForNotifications()", __LINE__);
            }
        }));

    for (const auto& [name, line] :
         {std::pair{AudioSession::mediaServicesWereLostNotification, "Media services were lost "},
          std::pair{AudioSession::mediaServicesWereResetNotification, "Media services were reset "}}) {
        observationTasks_.push_back(
            observe(self, center.notifications(name),
                    [line](NoisePlayer& player, Notification notification) -> asio::awaitable<void> {
                        SomnaraLogger::log(line + describe(notification), LogType::fault);
                        auto stop = player.stop(0);
                        co_await stop.value();
                    }));
    }

    observationTasks_.push_back(observe(
        self, center.notifications(AudioSession::engineConfigurationChangeNotification),
        [](NoisePlayer& player, Notification notification) -> asio::awaitable<void> {
            SomnaraLogger::log("audioEngineConfigurationChange " + describe(notification), LogType::info);
            co_await player.reconfigureEngine();
        }));
}

asio::awaitable<void> NoisePlayer::interruptionEnded(std::optional<std::uint64_t> options) {
    bool resume = options == AudioSession::interruptionOptionShouldResume;
    if (resume) {
        debug("Should resume");
    } else if (alwaysResumeFromInterruptsUntil_ &&
               *alwaysResumeFromInterruptsUntil_ < Loop::current().now()) {
        // The app's override holds a date that has passed: resume all the same.
        debug("Should resume as always resume date is " + dateText(*alwaysResumeFromInterruptsUntil_));
        resume = true;
    }
    if (!resume) {
        auto stop = this->stop(0);
        co_await stop.value();
        co_return;
    }
    try {
        auto play = this->play(true);
        co_await play.value();
    } catch (const std::exception&) {
    }
}

} // namespace somnara
