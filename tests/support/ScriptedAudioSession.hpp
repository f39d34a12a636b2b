#pragma once

#include <somnara/platform/AudioSession.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/NotificationCenter.hpp>

#include <optional>
#include <system_error>

namespace somnara::test {

/// An audio session the test drives: it records what the player asks of it, fails when told to, and
/// posts the notifications a sound server would.
class ScriptedAudioSession final : public AudioSession {
public:
    void setCategory(RouteSharingPolicy policy, bool mixWithOthers) override {
        if (categoryFailure) {
            throw std::system_error(*categoryFailure, "category refused");
        }
        this->policy = policy;
        this->mixWithOthers = mixWithOthers;
    }
    void setActive(bool active) override {
        if (activationFailure && active) {
            throw std::system_error(*activationFailure, "activation refused");
        }
        this->active = active;
    }
    AudioSessionRouteDescription currentRoute() const override { return route; }
    float outputVolume() const override { return volume; }

    void changeRoute(std::vector<AudioSessionPortDescription> outputs, RouteChangeReason reason) {
        route.outputs = std::move(outputs);
        post(routeChangeNotification, {{routeChangeReasonKey, static_cast<std::uint64_t>(reason)}});
    }
    void interrupt(InterruptionType type, std::optional<std::uint64_t> options = std::nullopt) {
        std::map<std::string, std::any> info{{interruptionTypeKey, static_cast<std::uint64_t>(type)}};
        if (options) {
            info.emplace(interruptionOptionKey, *options);
        }
        post(interruptionNotification, std::move(info));
    }
    void changeVolume(float newVolume) {
        volume = newVolume;
        post(outputVolumeChangeNotification, {});
    }
    static void post(const char* name, std::map<std::string, std::any> info) {
        Loop::current().notificationCenter().post(Notification{name, std::move(info)});
    }

    std::optional<std::error_code> categoryFailure;
    std::optional<std::error_code> activationFailure;
    std::optional<RouteSharingPolicy> policy;
    bool mixWithOthers = false;
    bool active = false;
    AudioSessionRouteDescription route{{{AudioSessionPort::headphones, "Headphones", "headphones"}}};
    float volume = 1.0F;
};

} // namespace somnara::test
