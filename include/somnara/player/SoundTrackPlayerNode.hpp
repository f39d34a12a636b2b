#pragma once

#include <somnara/audio/AudioPlayerNode.hpp>
#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/player/AudioFileFactory.hpp>
#include <somnara/runtime/Task.hpp>

#include <asio/awaitable.hpp>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace somnara {

/// Plays one sound of the catalogue endlessly and without gaps, and owns that sound's volume.
///
/// Looping: a fixed number of loop tasks each queue the sound's whole file once on the player node and
/// wait until that copy has been played back, then make room for a successor, so the file is always
/// queued `maxLoopTasks` times ahead. Volume changes are linear ramps the render side steps through
/// itself; the loop wakes only when one ends, to put the volume exactly at its target.
///
/// Threads: loop only. Loop tasks and ramps are tasks of their own that hold the node weakly and skip
/// their step when it has gone; operations hold it strongly while they run.
class SoundTrackPlayerNode : public std::enable_shared_from_this<SoundTrackPlayerNode> {
public:
    enum class BufferState { notPrepared, preparing, prepared };

    static constexpr int maxLoopTasks = 3;
    static constexpr const char* sourceFile = "SomnaraKit/SoundTrackPlayerNode";

    SoundTrackPlayerNode(SoundTrack soundTrack, std::shared_ptr<AudioFileFactory> audioFileFactory);
    /// Cancels the loop tasks and the running ramp.
    ~SoundTrackPlayerNode();
    SoundTrackPlayerNode(const SoundTrackPlayerNode&) = delete;
    SoundTrackPlayerNode& operator=(const SoundTrackPlayerNode&) = delete;

    const SoundTrack& soundTrack() const noexcept { return soundTrack_; }
    const std::shared_ptr<AudioPlayerNode>& audioPlayerNode() const noexcept { return audioPlayerNode_; }
    BufferState bufferState() const noexcept { return bufferState_; }
    std::size_t loopTaskCount() const noexcept { return loopTasks_.size(); }
    /// The identifiers of the loop tasks now held, in no particular order.
    std::vector<std::string> loopTaskIdentifiers() const;

    /// Sets up the loop tasks (the file queued three times ahead) at volume 0; returns when they exist.
    [[nodiscard]] Task<void> prepare();
    /// `prepare()`, then starts the player node (and the engine, if it was not running).
    [[nodiscard]] Task<void> play();
    /// Silence, `play()`, then a ramp from 0 to `maxVolume` over `duration` seconds.
    [[nodiscard]] Task<void> fadeIn(float maxVolume, double duration);
    /// `play()`, then a ramp from the current volume to `to` over `duration` seconds.
    [[nodiscard]] Task<void> fade(float to, double duration);
    /// A ramp to 0 over `duration` × the current volume (the volume falls at the same rate whatever it
    /// starts from), then `pause()` unless another ramp or a volume change cut it short.
    [[nodiscard]] Task<void> fadeOut(double duration);
    /// Cancels any ramp and sets the volume at once; pauses at 0 or less.
    [[nodiscard]] Task<void> setVolume(float volume);
    /// Pauses the player node; the queued copies stay, and the next `play()` prepares again.
    [[nodiscard]] Task<void> pause();

    friend bool operator==(const SoundTrackPlayerNode& a, const SoundTrackPlayerNode& b) noexcept {
        return a.soundTrack_ == b.soundTrack_;
    }

private:
    enum class RampKind { fadeIn, fade, fadeOut };
    using Operation = std::function<asio::awaitable<void>(std::shared_ptr<SoundTrackPlayerNode>)>;

    Task<void> run(Operation operation);
    asio::awaitable<void> prepareOnNode();
    asio::awaitable<void> playOnNode();
    void scheduleLoopTasks();
    static asio::awaitable<void> loopTask(std::weak_ptr<SoundTrackPlayerNode> weakNode, SoundTrack soundTrack,
                                          std::string identifier);
    void loopCopyEnded(const std::string& identifier, bool playedBack);
    /// Starts a ramp from the current volume in place of the running one; the task's value is true when
    /// it ran to its end.
    Task<bool> startRamp(float target, double duration, RampKind kind);
    void applyVolume(float volume);
    void pauseNow();

    // Loop only.
    Task<bool> changeVolumeTask_;
    std::map<std::string, Task<void>> loopTasks_;
    // Immutable after construction.
    const SoundTrack soundTrack_;
    const std::shared_ptr<AudioFileFactory> audioFileFactory_;
    // Loop only.
    BufferState bufferState_ = BufferState::notPrepared;
    const std::shared_ptr<AudioPlayerNode> audioPlayerNode_;
};

} // namespace somnara

/// Nodes are kept in sets and dictionaries keyed by their sound.
template <>
struct std::hash<somnara::SoundTrackPlayerNode> {
    std::size_t operator()(const somnara::SoundTrackPlayerNode& node) const noexcept {
        return std::hash<somnara::SoundTrack>{}(node.soundTrack());
    }
};
