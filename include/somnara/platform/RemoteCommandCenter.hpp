#pragma once

#include <somnara/foundation/AsyncCurrentValueSubject.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace somnara {

/// The commands the system's media controls (media keys, the shell's media panel, a headset's buttons)
/// send to the app that plays.
enum class RemoteCommand { play, pause, togglePlayPause, stop, previousTrack, nextTrack };

/// "play", "pause", "togglePlayPause", "stop", "previousTrack" or "nextTrack".
const char* remoteCommandName(RemoteCommand command) noexcept;

/// What a target answers the system.
enum class RemoteCommandHandlerStatus { success, noActionableNowPlayingItem, commandFailed };

/// One command as the system delivered it.
struct RemoteCommandEvent {
    RemoteCommand command;
};

/// Takes the system's remote commands to the targets the app registered. A command is available to the
/// system while it is enabled and has at least one target; the shows (MPRIS) follow
/// `availableCommandsSubject()` and deliver commands with `perform`.
///
/// Loop only.
class RemoteCommandCenter {
public:
    using Handler = std::function<RemoteCommandHandlerStatus(const RemoteCommandEvent&)>;
    /// A set of commands, indexed by the command's value.
    using CommandSet = std::array<bool, 6>;

    struct TargetId {
        RemoteCommand command;
        std::uint64_t id = 0;
    };

    /// The process-wide centre, made on first use.
    static RemoteCommandCenter& shared();

    RemoteCommandCenter();

    TargetId addTarget(RemoteCommand command, Handler handler);
    void removeTarget(TargetId target);
    /// Commands are enabled until disabled here; a disabled command reaches no target.
    void setEnabled(RemoteCommand command, bool enabled);
    bool isEnabled(RemoteCommand command) const noexcept { return enabled_[index(command)]; }
    bool isAvailable(RemoteCommand command) const noexcept {
        return availableCommandsSubject_->currentValue()[index(command)];
    }

    /// Delivers `command` to every target in the order they were added; the first answer other than
    /// success is the answer, and an unavailable command fails.
    RemoteCommandHandlerStatus perform(RemoteCommand command);

    const std::shared_ptr<AsyncCurrentValueSubject<CommandSet>>& availableCommandsSubject() const noexcept {
        return availableCommandsSubject_;
    }

private:
    struct Target {
        std::uint64_t id;
        Handler handler;
    };

    static constexpr std::size_t index(RemoteCommand command) noexcept {
        return static_cast<std::size_t>(command);
    }
    void publishAvailability();

    std::array<std::vector<Target>, 6> targets_;
    CommandSet enabled_{true, true, true, true, true, true};
    std::uint64_t nextTargetId_ = 0;
    std::shared_ptr<AsyncCurrentValueSubject<CommandSet>> availableCommandsSubject_;
};

} // namespace somnara
