#pragma once

#include "Commands.hpp"
#include "EventSink.hpp"
#include "SpscQueue.hpp"
#include "Stage.hpp"
#include "Voice.hpp"

#include <somnara/platform/AudioOutput.hpp>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace somnara::rt {

using CommandQueue = SpscQueue<RenderCommand, 1024>;
using EventQueue = SpscQueue<RenderEvent, 1024>;

/// The render side of the engine: a chain of stages pulled from its end (the main mixer), fed by the
/// voices of the players, in float32 stereo at the output's rate.
///
/// Each render call first applies the commands the loop queued, then renders in pieces of at most the
/// prepared block size; after each piece it follows every ended item down the chain (through each
/// stage's latency and, at a varispeed, its rate) and reports it as played back once its last frame
/// has left the main mixer. Nothing here locks, allocates, frees or logs.
///
/// No event is ever dropped: every item reports exactly once, and a command is taken from its queue
/// only while the event queue has room for the events of every item held so far plus the one it may
/// add. When the loop falls behind, commands wait in their queue instead.
///
/// Threads: built and prepared on the loop; then `render` runs on the output's render thread. The loop
/// may call `processCommands` and `flushPending` only while no render thread runs (engine stopped).
class RenderGraph final : public AudioRenderer, private EventSink {
public:
    RenderGraph(double sampleRate, std::size_t maxFrames, bool waitForData, std::int64_t frameOffset,
                std::span<Voice> voices, CommandQueue& commands, EventQueue& events);
    ~RenderGraph() override;

    /// Adds the next stage of the chain (from the players' mixer to the main mixer); the last one added
    /// is the output. Loop only, before `prepare`.
    void append(std::unique_ptr<Stage> stage);
    EventSink& sink() noexcept { return *this; }
    std::size_t stageCount() const noexcept { return stages_.size(); }
    bool waitsForData() const noexcept { return waitForData_; }

    /// Allocates every stage's buffers. Loop only.
    void prepare();

    void render(float* left, float* right, std::size_t frames) noexcept override;
    void processCommands() noexcept;
    /// Reports every item still travelling through the chain as played back now (the graph is being
    /// replaced or reset).
    void flushPending() noexcept;
    /// Clears every stage's state (tails, filter memories). Loop only, while no render thread runs.
    void resetStages() noexcept;
    /// Asks the render thread to clear every stage's state before its next block. Any thread.
    void requestReset() noexcept { resetRequested_.store(true, std::memory_order_release); }

    /// Frames rendered by the engine, this graph's and the ones before it.
    std::int64_t framesRendered() const noexcept { return framesRendered_.load(std::memory_order_relaxed); }

private:
    struct Pending {
        RenderEvent event;
        std::size_t stage = 0;
        double time = 0.0;
    };

    void itemEnded(std::size_t stage, double time, const RenderEvent& event) noexcept override;
    void report(const RenderEvent& event) noexcept override;
    void underrun() noexcept override { ++underruns_; }
    void advanceEvents() noexcept;
    /// Items in the voices' queues or travelling down the chain: events still to come.
    std::size_t heldItems() const noexcept;

    // Immutable after construction.
    const double sampleRate_;
    const std::size_t maxFrames_;
    const bool waitForData_;
    const std::span<Voice> voices_;
    CommandQueue& commands_;
    EventQueue& events_;
    std::vector<std::unique_ptr<Stage>> stages_;
    // Render thread only (see the class comment).
    std::array<Pending, 512> pending_{};
    std::size_t pendingCount_ = 0;
    std::uint32_t underruns_ = 0;
    std::int64_t frameOffset_ = 0;
    // Set by the loop, taken by the render thread (acquire/release: the request is all it carries).
    std::atomic<bool> resetRequested_{false};
    // Written by the render thread, read by the loop: a position, relaxed.
    std::atomic<std::int64_t> framesRendered_{0};
};

} // namespace somnara::rt
