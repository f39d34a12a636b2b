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
/// `knots`: within one, each gain is a start plus a step per frame. Every gain is multiplied by `scale`
/// (1 / 32768 for 16-bit samples, whose conversion to float is folded in here). The decoded input and
/// the mixer's output never overlap.
template <class Sample>
[[gnu::always_inline]] inline void
mixRampBody(const Sample* inLeft, const Sample* inRight, float* left, float* right, std::size_t from,
            std::size_t count, std::size_t frames, const GainScratch& knots, float scale) noexcept {
    for (std::size_t i = 0; i < count;) {
        const std::size_t at = from + i;
        const std::size_t s = at / stride;
        const std::size_t segmentEnd = std::min((s + 1) * stride, frames);
        const std::size_t n = std::min(segmentEnd, from + count) - at;
        const float share = scale / static_cast<float>(segmentEnd - s * stride);
        const float ll = knots.leftFromLeft[s] * scale;
        const float lr = knots.leftFromRight[s] * scale;
        const float rl = knots.rightFromLeft[s] * scale;
        const float rr = knots.rightFromRight[s] * scale;
        const float dll = (knots.leftFromLeft[s + 1] - knots.leftFromLeft[s]) * share;
        const float dlr = (knots.leftFromRight[s + 1] - knots.leftFromRight[s]) * share;
        const float drl = (knots.rightFromLeft[s + 1] - knots.rightFromLeft[s]) * share;
        const float drr = (knots.rightFromRight[s + 1] - knots.rightFromRight[s]) * share;
        const float* __restrict t = frameSteps.data() + (at - s * stride);
        const Sample* __restrict l = inLeft + i;
        const Sample* __restrict r = inRight + i;
        float* __restrict oL = left + at;
        float* __restrict oR = right + at;
        for (std::size_t j = 0; j < n; ++j) {
            const auto x = static_cast<float>(l[j]);
            const auto y = static_cast<float>(r[j]);
            oL[j] += (ll + t[j] * dll) * x + (lr + t[j] * dlr) * y;
            oR[j] += (rl + t[j] * drl) * x + (rr + t[j] * drr) * y;
        }
        i += n;
    }
}

template <class Sample>
[[gnu::always_inline]] inline void mixSteadyBody(const Sample* __restrict inLeft,
                                                 const Sample* __restrict inRight, float* __restrict left,
                                                 float* __restrict right, std::size_t count,
                                                 const dsp::StereoPanGains& g, float scale) noexcept {
    // Gains in locals: read through the reference, they would be reloaded after every store.
    const float ll = g.leftFromLeft * scale;
    const float lr = g.leftFromRight * scale;
    const float rl = g.rightFromLeft * scale;
    const float rr = g.rightFromRight * scale;
    if (lr == 0.0F && rl == 0.0F) {
        for (std::size_t i = 0; i < count; ++i) {
            left[i] += ll * static_cast<float>(inLeft[i]);
            right[i] += rr * static_cast<float>(inRight[i]);
        }
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const auto x = static_cast<float>(inLeft[i]);
        const auto y = static_cast<float>(inRight[i]);
        left[i] += ll * x + lr * y;
        right[i] += rl * x + rr * y;
    }
}

template <class Sample>
struct Kernels {
    using Ramp = void (*)(const Sample*, const Sample*, float*, float*, std::size_t, std::size_t, std::size_t,
                          const GainScratch&, float) noexcept;
    using Steady = void (*)(const Sample*, const Sample*, float*, float*, std::size_t,
                            const dsp::StereoPanGains&, float) noexcept;

    static void rampPortable(const Sample* inLeft, const Sample* inRight, float* left, float* right,
                             std::size_t from, std::size_t count, std::size_t frames,
                             const GainScratch& knots, float scale) noexcept {
        mixRampBody(inLeft, inRight, left, right, from, count, frames, knots, scale);
    }

    static void steadyPortable(const Sample* inLeft, const Sample* inRight, float* left, float* right,
                               std::size_t count, const dsp::StereoPanGains& g, float scale) noexcept {
        mixSteadyBody(inLeft, inRight, left, right, count, g, scale);
    }

#if defined(__x86_64__) || defined(__i386__)
    // The same loops eight frames at a time, with fused multiply-adds.
    __attribute__((target("avx2,fma"))) static void rampAvx2(const Sample* inLeft, const Sample* inRight,
                                                             float* left, float* right, std::size_t from,
                                                             std::size_t count, std::size_t frames,
                                                             const GainScratch& knots, float scale) noexcept {
        mixRampBody(inLeft, inRight, left, right, from, count, frames, knots, scale);
    }

    __attribute__((target("avx2,fma"))) static void steadyAvx2(const Sample* inLeft, const Sample* inRight,
                                                               float* left, float* right, std::size_t count,
                                                               const dsp::StereoPanGains& g,
                                                               float scale) noexcept {
        mixSteadyBody(inLeft, inRight, left, right, count, g, scale);
    }
#endif

    Ramp ramp = &rampPortable;
    Steady steady = &steadyPortable;

    /// Chosen once, for the processor the program runs on.
    static Kernels choose() noexcept {
        Kernels kernels;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_cpu_init(); // this runs during static initialisation, maybe before the runtime's own
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
            kernels.ramp = &rampAvx2;
            kernels.steady = &steadyAvx2;
        }
#endif
        return kernels;
    }
};

const Kernels<float> floatKernels = Kernels<float>::choose();
const Kernels<std::int16_t> sixteenBitKernels = Kernels<std::int16_t>::choose();

constexpr float sixteenBitScale = 1.0F / 32'768.0F;

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
        sounding_ = false;
        // A new player starts at the defaults; its own volume and pan follow as commands.
        volume_.reset(1.0F);
        pan_.reset(0.0F);
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
            volume_.reset(volume_.target());
            pan_.reset(pan_.target());
            sounding_ = false;
        }
        playing_ = true;
        break;
    case Kind::pause:
        playing_ = false;
        break;
    case Kind::stop:
        flush(sink);
        playing_ = false;
        sounding_ = false;
        break;
    case Kind::route:
        route_ = static_cast<std::uint8_t>(command.item);
        break;
    case Kind::volume:
        volume_.setTarget(command.value, std::max<std::size_t>(command.frames, rampFrames_));
        break;
    case Kind::pan:
        pan_.setTarget(command.value, std::max<std::size_t>(command.frames, rampFrames_));
        break;
    }
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
        PcmBuffer& buffer = *items_[head_].buffer;
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
                if (buffer.wakeWriter) {
                    buffer.wakeWriter();
                }
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
            // A voice that has not been heard yet only starts a little late: no gap, no underrun.
            if (sounding_) {
                sink.underrun();
            }
            break;
        }
        // Up to the ring's end at most: the rest of the piece comes from its start on the next turn.
        const std::size_t at = buffer.slot(position_);
        const auto take = static_cast<std::size_t>(
            std::min({static_cast<std::int64_t>(frames - done), std::min(ready, end) - position_,
                      buffer.capacity - static_cast<std::int64_t>(at)}));
        if (buffer.sixteenBit) {
            const std::int16_t* inLeft = buffer.left16.get() + at;
            const std::int16_t* inRight = buffer.right16.get() + at;
            if (ramping) {
                sixteenBitKernels.ramp(inLeft, inRight, left, right, done, take, frames, scratch,
                                       sixteenBitScale);
            } else {
                sixteenBitKernels.steady(inLeft, inRight, left + done, right + done, take, steady,
                                         sixteenBitScale);
            }
        } else {
            const float* inLeft = buffer.left.get() + at;
            const float* inRight = buffer.right.get() + at;
            if (ramping) {
                floatKernels.ramp(inLeft, inRight, left, right, done, take, frames, scratch, 1.0F);
            } else {
                floatKernels.steady(inLeft, inRight, left + done, right + done, take, steady, 1.0F);
            }
        }
        position_ += static_cast<std::int64_t>(take);
        // Release: these frames are mixed, so the worker may write over them.
        buffer.consumed_.store(position_, std::memory_order_release);
        sounding_ = true;
        done += take;
        if (position_ >= end) {
            finishFront(time + static_cast<double>(done), stage, sink);
        }
    }
}

} // namespace somnara::rt
