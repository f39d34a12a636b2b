#pragma once

#include "Commands.hpp"
#include "EventSink.hpp"
#include "PcmBuffer.hpp"
#include "audio/dsp/LinearSmoother.hpp"
#include "audio/dsp/Pan.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace somnara::rt {

/// Gain scratch a mixer lends its voices while they mix one piece; render thread only.
struct GainScratch {
    float* leftFromLeft = nullptr;
    float* leftFromRight = nullptr;
    float* rightFromLeft = nullptr;
    float* rightFromRight = nullptr;
};

/// The render twin of one player node: its queue of scheduled items, its read position and its
/// smoothed volume and pan. Items play back to back: when one ends inside a block the next starts on
/// the following frame.
///
/// Threads: render thread only once the engine has started; the loop touches a voice only while no
/// render thread runs (before the first start). Volume and pan arrive as commands, in order with
/// play and pause, each a glide the voice steps through itself.
class Voice {
public:
    static constexpr std::size_t queueCapacity = 16;
    static constexpr std::uint8_t unrouted = 0xff;
    static constexpr double rampSeconds = 0.02;

    void prepare(double sampleRate) noexcept;

    /// Applies one command addressed to this voice (the generation already checked for claims only).
    void apply(const RenderCommand& command, std::uint16_t index, EventSink& sink) noexcept;

    /// Adds this voice's next `frames` frames into `left`/`right`. `time` is the mixer's output frame
    /// count at the start of the piece. In manual rendering (`waitForData`) a voice that catches up
    /// with its decoder waits for it instead of running dry.
    void mix(float* left, float* right, std::size_t frames, double time, std::size_t stage,
             GainScratch scratch, EventSink& sink, bool waitForData) noexcept;

    std::uint8_t route() const noexcept { return route_; }
    bool isClaimed() const noexcept { return claimed_; }
    /// Items queued and not yet reported: each will be reported once.
    std::size_t queuedCount() const noexcept { return count_; }

    void setRoute(std::uint8_t route) noexcept { route_ = route; }

private:
    struct Item {
        std::uint64_t id = 0;
        PcmBuffer* buffer = nullptr;
    };

    void flush(EventSink& sink) noexcept;
    /// Volume times pan gains at the smoothers' current values.
    dsp::StereoPanGains gainsNow() const noexcept;
    void finishFront(double time, std::size_t stage, EventSink& sink) noexcept;
    RenderEvent eventFor(const Item& item, RenderEvent::Kind kind) const noexcept;

    // Render thread only (see the class comment).
    std::uint16_t index_ = 0;
    std::uint32_t generation_ = 0;
    bool claimed_ = false;
    bool playing_ = false;
    /// Heard since it last started to play: from then on, running dry leaves a gap.
    bool sounding_ = false;
    std::uint8_t route_ = unrouted;
    std::array<Item, queueCapacity> items_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    std::int64_t position_ = 0;
    std::size_t rampFrames_ = 882;
    dsp::LinearSmoother volume_{1.0F};
    dsp::LinearSmoother pan_{0.0F};
};

} // namespace somnara::rt
