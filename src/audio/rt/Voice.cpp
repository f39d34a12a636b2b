#include "Voice.hpp"

#include "audio/dsp/Pan.hpp"

#include <algorithm>
#include <array>
#include <cmath>

namespace somnara::rt {

namespace {

// Knots of a moving pan's gains are this many frames apart.
constexpr std::size_t stride = 16;
// Frame k of a segment takes k of its steps from the segment's first knot.
constexpr std::array<float, stride> frameSteps{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

/// Adds frames [from, from + count) of a piece of `frames` frames, segment by segment of the knots in
/// `knots`: within one, each gain is a start plus a step per frame. The decoded input and the mixer's
/// output never overlap.
[[gnu::always_inline]] inline void mixRampBody(const float* inLeft, const float* inRight, float* left,
                                               float* right, std::size_t from, std::size_t count,
                                               std::size_t frames, const GainScratch& knots) noexcept {
    for (std::size_t i = 0; i < count;) {
        const std::size_t at = from + i;
        const std::size_t s = at / stride;
        const std::size_t segmentEnd = std::min((s + 1) * stride, frames);
        const std::size_t n = std::min(segmentEnd, from + count) - at;
        const float share = 1.0F / static_cast<float>(segmentEnd - s * stride);
        const float ll = knots.leftFromLeft[s];
        const float lr = knots.leftFromRight[s];
        const float rl = knots.rightFromLeft[s];
        const float rr = knots.rightFromRight[s];
        const float dll = (knots.leftFromLeft[s + 1] - ll) * share;
        const float dlr = (knots.leftFromRight[s + 1] - lr) * share;
        const float drl = (knots.rightFromLeft[s + 1] - rl) * share;
        const float drr = (knots.rightFromRight[s + 1] - rr) * share;
        const float* __restrict t = frameSteps.data() + (at - s * stride);
        const float* __restrict l = inLeft + i;
        const float* __restrict r = inRight + i;
        float* __restrict oL = left + at;
        float* __restrict oR = right + at;
        for (std::size_t j = 0; j < n; ++j) {
            oL[j] += (ll + t[j] * dll) * l[j] + (lr + t[j] * dlr) * r[j];
            oR[j] += (rl + t[j] * drl) * l[j] + (rr + t[j] * drr) * r[j];
        }
        i += n;
    }
}

[[gnu::always_inline]] inline void mixSteadyBody(const float* __restrict inLeft,
                                                 const float* __restrict inRight, float* __restrict left,
                                                 float* __restrict right, std::size_t count,
                                                 const dsp::StereoPanGains& g) noexcept {
    // Gains in locals: read through the reference, they would be reloaded after every store.
    const float ll = g.leftFromLeft;
    const float lr = g.leftFromRight;
    const float rl = g.rightFromLeft;
    const float rr = g.rightFromRight;
    if (lr == 0.0F && rl == 0.0F) {
        for (std::size_t i = 0; i < count; ++i) {
            left[i] += ll * inLeft[i];
            right[i] += rr * inRight[i];
        }
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        left[i] += ll * inLeft[i] + lr * inRight[i];
        right[i] += rl * inLeft[i] + rr * inRight[i];
    }
}

void mixRampPortable(const float* inLeft, const float* inRight, float* left, float* right, std::size_t from,
                     std::size_t count, std::size_t frames, const GainScratch& knots) noexcept {
    mixRampBody(inLeft, inRight, left, right, from, count, frames, knots);
}

void mixSteadyPortable(const float* inLeft, const float* inRight, float* left, float* right,
                       std::size_t count, const dsp::StereoPanGains& g) noexcept {
    mixSteadyBody(inLeft, inRight, left, right, count, g);
}

#if defined(__x86_64__) || defined(__i386__)
// The same loops eight frames at a time, with fused multiply-adds.
__attribute__((target("avx2,fma"))) void mixRampAvx2(const float* inLeft, const float* inRight, float* left,
                                                     float* right, std::size_t from, std::size_t count,
                                                     std::size_t frames, const GainScratch& knots) noexcept {
    mixRampBody(inLeft, inRight, left, right, from, count, frames, knots);
}

__attribute__((target("avx2,fma"))) void mixSteadyAvx2(const float* inLeft, const float* inRight, float* left,
                                                       float* right, std::size_t count,
                                                       const dsp::StereoPanGains& g) noexcept {
    mixSteadyBody(inLeft, inRight, left, right, count, g);
}
#endif

struct MixKernels {
    void (*ramp)(const float*, const float*, float*, float*, std::size_t, std::size_t, std::size_t,
                 const GainScratch&) noexcept = &mixRampPortable;
    void (*steady)(const float*, const float*, float*, float*, std::size_t,
                   const dsp::StereoPanGains&) noexcept = &mixSteadyPortable;
};

MixKernels chooseMixKernels() noexcept {
    MixKernels kernels;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init(); // this runs during static initialisation, maybe before the runtime's own
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        kernels.ramp = &mixRampAvx2;
        kernels.steady = &mixSteadyAvx2;
    }
#endif
    return kernels;
}

// Chosen once, for the processor the program runs on.
const MixKernels mixKernels = chooseMixKernels();

} // namespace

void Voice::prepare(double sampleRate) noexcept {
    rampFrames_ = static_cast<std::size_t>(std::lround(rampSeconds * sampleRate));
}

RenderEvent Voice::eventFor(const Item& item, RenderEvent::Kind kind) const noexcept {
    RenderEvent event;
    event.kind = kind;
    event.voice = index_;
    event.generation = generation_;
    event.item = item.id;
    return event;
}

void Voice::flush(EventSink& sink) noexcept {
    while (count_ > 0) {
        sink.report(eventFor(items_[head_], RenderEvent::Kind::flushed));
        head_ = (head_ + 1) % queueCapacity;
        --count_;
    }
    head_ = 0;
    position_ = 0;
}

void Voice::apply(const RenderCommand& command, std::uint16_t index, EventSink& sink) noexcept {
    using Kind = RenderCommand::Kind;
    if (command.kind == Kind::claimVoice) {
        flush(sink);
        index_ = index;
        generation_ = command.generation;
        claimed_ = true;
        playing_ = false;
        // A new player starts from its published values, not from a ramp out of the old one's.
        jumpToPublishedGains();
        return;
    }
    if (!claimed_ || command.generation != generation_) {
        // A late command for a voice that now belongs to another player: ignore it, but hand back
        // an item it carried so that its buffer is released.
        if (command.kind == Kind::schedule) {
            RenderEvent event;
            event.kind = RenderEvent::Kind::flushed;
            event.voice = index;
            event.generation = command.generation;
            event.item = command.item;
            sink.report(event);
        }
        return;
    }
    switch (command.kind) {
    case Kind::claimVoice:
        break;
    case Kind::releaseVoice:
        flush(sink);
        claimed_ = false;
        playing_ = false;
        route_ = unrouted;
        break;
    case Kind::schedule:
        if (count_ == queueCapacity) {
            RenderEvent event = eventFor(Item{command.item, command.buffer}, RenderEvent::Kind::flushed);
            sink.report(event);
            break;
        }
        items_[(head_ + count_) % queueCapacity] = Item{command.item, command.buffer};
        ++count_;
        break;
    case Kind::play:
        if (!playing_) {
            // Nothing was heard since the voice stopped, so there is nothing to ramp from: a player
            // silenced just before it starts must not be heard falling from its old volume.
            jumpToPublishedGains();
        }
        playing_ = true;
        break;
    case Kind::pause:
        playing_ = false;
        break;
    case Kind::stop:
        flush(sink);
        playing_ = false;
        break;
    case Kind::route:
        route_ = static_cast<std::uint8_t>(command.item);
        break;
    }
}

void Voice::jumpToPublishedGains() noexcept {
    volume_.reset(parameters_ != nullptr ? parameters_->volume.load(std::memory_order_relaxed) : 1.0F);
    pan_.reset(parameters_ != nullptr ? parameters_->pan.load(std::memory_order_relaxed) : 0.0F);
}

void Voice::finishFront(double time, std::size_t stage, EventSink& sink) noexcept {
    sink.itemEnded(stage, time, eventFor(items_[head_], RenderEvent::Kind::playedBack));
    head_ = (head_ + 1) % queueCapacity;
    --count_;
    position_ = 0;
}

dsp::StereoPanGains Voice::gainsNow() const noexcept {
    const float v = volume_.current();
    dsp::StereoPanGains g = dsp::stereoPanGains(pan_.current());
    g.leftFromLeft *= v;
    g.leftFromRight *= v;
    g.rightFromLeft *= v;
    g.rightFromRight *= v;
    return g;
}

void Voice::mix(float* left, float* right, std::size_t frames, double time, std::size_t stage,
                GainScratch scratch, EventSink& sink, bool waitForData) noexcept {
    if (!claimed_ || !playing_) {
        return;
    }
    if (parameters_ != nullptr) {
        volume_.setTarget(parameters_->volume.load(std::memory_order_relaxed), rampFrames_);
        pan_.setTarget(parameters_->pan.load(std::memory_order_relaxed), rampFrames_);
    }
    const bool ramping = volume_.isSmoothing() || pan_.isSmoothing();
    dsp::StereoPanGains steady;
    if (ramping) {
        // The gains move with time whatever the queue does. The pan law is evaluated every `stride`
        // frames of the piece (the knots, kept in the scratch) and followed in straight lines between:
        // even a jump across the whole width then stays within 4e-4 of the curve, at a 16th of the cost.
        dsp::StereoPanGains knot = gainsNow();
        for (std::size_t s = 0;; ++s) {
            scratch.leftFromLeft[s] = knot.leftFromLeft;
            scratch.leftFromRight[s] = knot.leftFromRight;
            scratch.rightFromLeft[s] = knot.rightFromLeft;
            scratch.rightFromRight[s] = knot.rightFromRight;
            if (s * stride >= frames) {
                break;
            }
            const std::size_t n = std::min(stride, frames - s * stride);
            volume_.skip(n);
            pan_.skip(n);
            knot = gainsNow();
        }
    } else {
        steady = gainsNow();
    }

    std::size_t done = 0;
    while (done < frames && count_ > 0) {
        const PcmBuffer& buffer = *items_[head_].buffer;
        // `complete_` first: once it reads true, `ready_` read after it is final.
        const bool complete = buffer.complete_.load(std::memory_order_acquire);
        const std::int64_t ready = buffer.ready_.load(std::memory_order_acquire);
        const std::int64_t end = complete ? std::min(ready, buffer.length) : buffer.length;
        if (position_ >= end) {
            finishFront(time + static_cast<double>(done), stage, sink);
            continue;
        }
        if (position_ >= ready) {
            if (waitForData) {
                // Offline rendering has no deadline: wait for the decoder rather than leave a gap.
                for (;;) {
                    const std::uint32_t epoch = buffer.epoch_.load(std::memory_order_acquire);
                    if (buffer.complete_.load(std::memory_order_acquire) ||
                        buffer.ready_.load(std::memory_order_acquire) > position_) {
                        break;
                    }
                    buffer.epoch_.wait(epoch, std::memory_order_acquire);
                }
                continue;
            }
            sink.underrun();
            break;
        }
        const auto take = static_cast<std::size_t>(std::min<std::int64_t>(
            static_cast<std::int64_t>(frames - done), std::min(ready, end) - position_));
        const float* inLeft = buffer.left.get() + position_;
        const float* inRight = buffer.right.get() + position_;
        float* outLeft = left + done;
        float* outRight = right + done;
        if (ramping) {
            mixKernels.ramp(inLeft, inRight, left, right, done, take, frames, scratch);
        } else {
            mixKernels.steady(inLeft, inRight, outLeft, outRight, take, steady);
        }
        position_ += static_cast<std::int64_t>(take);
        done += take;
        if (position_ >= end) {
            finishFront(time + static_cast<double>(done), stage, sink);
        }
    }
}

} // namespace somnara::rt
