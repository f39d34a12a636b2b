#pragma once

#include <somnara/audio/AudioNode.hpp>
#include <somnara/audio/AudioPcmBuffer.hpp>
#include <somnara/platform/AudioFile.hpp>
#include <somnara/runtime/Loop.hpp>

#include <asio/awaitable.hpp>

#include <cstdint>
#include <functional>
#include <memory>

namespace somnara {

/// How a scheduled item ended.
struct PlaybackCompletion {
    /// True when the item's last frame has left the graph (it was "played back"); false when it was
    /// removed first (the player was stopped or detached, or the engine reset).
    bool playedBack = false;
    /// The engine's output frame at which that happened: frames rendered since the engine first
    /// started.
    std::int64_t outputFrame = 0;
};

/// Plays scheduled files and buffers one after the other, sample-exact and without gaps, at its own
/// volume and pan. It starts paused: scheduling only queues (decoding starts at once, on a worker
/// thread), `play()` starts.
///
/// Completions are "data played back": they run on the loop once the item's last frame has left the
/// graph, downstream latency and a varispeed's rate included, once per item and in order.
///
/// Threads: loop only.
class AudioPlayerNode final : public AudioNode {
public:
    using CompletionHandler = std::function<void(const PlaybackCompletion&)>;

    AudioPlayerNode();
    ~AudioPlayerNode() override;

    /// Queues the whole file after what is already queued. Its samples stream through a ring of about
    /// 1.5 s, decoded ahead of the render thread and resampled if its rate is not the engine's; copies
    /// of one file object may be queued at once. On a node with no engine the completion runs at once
    /// with `playedBack` false.
    void scheduleFile(std::shared_ptr<AudioFile> file, CompletionHandler completion);
    /// The same, resuming the caller when the file has been played back (or removed).
    [[nodiscard]] asio::awaitable<PlaybackCompletion> scheduleFile(std::shared_ptr<AudioFile> file);

    /// Queues audio from memory (any rate; one or two channels are used).
    void scheduleBuffer(std::shared_ptr<const AudioPcmBuffer> buffer, CompletionHandler completion);
    [[nodiscard]] asio::awaitable<PlaybackCompletion>
    scheduleBuffer(std::shared_ptr<const AudioPcmBuffer> buffer);

    void play();
    /// Freezes the player where it is; the queue stays.
    void pause();
    /// Clears the queue (the completions of every removed item run) and rewinds.
    void stop();
    bool isPlaying() const noexcept { return playing_; }

    /// Linear gain, 0 to 1 (default 1); values outside are clamped. Smoothed while rendering. While a
    /// ramp runs, the value it has reached on the loop's continuous clock, in steps of 10 ms.
    float volume() const noexcept { return volume_.now(); }
    void setVolume(float volume);
    /// −1 (left) to 1 (right), default 0, equal-power; values outside are clamped.
    float pan() const noexcept { return pan_.now(); }
    void setPan(float pan);
    /// Moves the volume, or the pan, linearly from where it is now to `target` over `seconds`. The
    /// render side steps the whole ramp itself, so the loop has nothing to do until it ends; a later
    /// set or ramp replaces it from wherever it has got to.
    void rampVolume(float target, double seconds);
    void rampPan(float target, double seconds);

private:
    friend class AudioEngine;

    /// A value gliding linearly from `from` to `target` over `seconds` from `start` on the continuous
    /// clock; a value set at once is a glide of no length.
    struct Glide {
        float from = 0.0F;
        float target = 0.0F;
        ContinuousInstant start{};
        double seconds = 0.0;

        float now() const noexcept;
        /// Starts a glide from the value reached now.
        void restart(float newTarget, double newSeconds) noexcept;
    };

    void publish(int kind, const Glide& glide);

    // Loop only.
    Glide volume_{1.0F, 1.0F};
    Glide pan_;
    bool playing_ = false;
    /// Given by the engine on attach: the voice that renders this node, and the generation that
    /// tells this node's commands from those of the voice's earlier owners.
    int voice_ = -1;
    std::uint32_t generation_ = 0;
};

} // namespace somnara
