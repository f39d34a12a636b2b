#pragma once

#include <somnara/platform/RemoteCommandCenter.hpp>
#include <somnara/player/NoisePlayer.hpp>
#include <somnara/selection/SoundTracksCollection.hpp>
#include <somnara/settings/NoisePlayerSettingsStore.hpp>

#include <asio/awaitable.hpp>

#include <memory>
#include <vector>

namespace somnara {

/// Connects the system's remote commands (media keys, the shell's media panel, a headset) to the player
/// and the selection. Every command is answered with success at once; the work runs in a task of its
/// own, so the system never waits on the player, and the player's state is read when that task starts.
///
/// Loop only. The app makes one at start and keeps it; its targets go when it goes.
class CommandCenterHandler {
public:
    CommandCenterHandler(std::shared_ptr<NoisePlayer> noisePlayer,
                         std::shared_ptr<SoundTracksCollection> soundTracksCollection,
                         std::shared_ptr<NoisePlayerSettingsStore> noisePlayerSettingsStore,
                         RemoteCommandCenter& commandCenter = RemoteCommandCenter::shared());
    ~CommandCenterHandler();
    CommandCenterHandler(const CommandCenterHandler&) = delete;
    CommandCenterHandler& operator=(const CommandCenterHandler&) = delete;

private:
    /// What a command's task needs; the tasks share it, so they outlive the handler safely.
    struct Parts {
        std::shared_ptr<NoisePlayer> noisePlayer;
        std::shared_ptr<SoundTracksCollection> soundTracksCollection;
        std::shared_ptr<NoisePlayerSettingsStore> noisePlayerSettingsStore;
    };

    using SharedParts = std::shared_ptr<const Parts>;

    RemoteCommandHandlerStatus handle(const RemoteCommandEvent& event);
    static asio::awaitable<void> run(SharedParts parts, RemoteCommand command);
    static asio::awaitable<void> playPath(SharedParts parts);
    static asio::awaitable<void> stopPath(SharedParts parts);
    static void logEvent(const SharedParts& parts, const char* name);

    const SharedParts parts_;
    RemoteCommandCenter& commandCenter_;
    std::vector<RemoteCommandCenter::TargetId> targets_;
};

} // namespace somnara
