#pragma once

#include "audio/dsp/AudioSource.hpp"
#include "audio/dsp/PathSwitch.hpp"
#include "audio/dsp/Varispeed.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace soundtouch {
class SoundTouch;
}

namespace somnara::dsp {

/// Pitch shift with the tempo kept, pulling its input from an upstream source.
///
/// A shift by a factor p = 2^(cents/1200) is done in two steps: SoundTouch's time-domain stretch slows
/// the sound by p without changing its pitch (tempo 1/p), and the variable-rate resampler of Varispeed
/// then plays that p times faster, raising the pitch by p and restoring the duration. SoundTouch could
/// transpose by itself, but it rebuilds its anti-alias filter on the heap at every pitch change; a tempo
/// change does not allocate, and the resampler glides to a new rate over 50 ms, so a pitch change is
/// smooth and allocation-free.
///
/// Every render() produces exactly the frames asked for. The stretcher works in batches of tens of
/// milliseconds, so the unit pulls from upstream whatever it needs: the first call after a reset pulls
/// about 0.1 s ahead, later calls about as many frames as they produce. latencyFrames() is how far the
/// upstream runs ahead of what has been rendered.
///
/// Bypassed, the unit pulls exactly the frames asked for and passes them through bit for bit. Switching
/// dips the output to silence over 5 ms, changes path and fades back in over 5 ms. Coming back, the unit
/// drops what the stretcher held from before (at silence, so nothing is heard of the jump) rather than
/// playing it late, and starts at the pitch asked for now, with no glide from the one before; so does a
/// reset.
///
/// Render thread only: prepare() allocates (and exercises both stages at the extreme pitches so their
/// internal buffers reach full size); render() and the setters do not allocate.
class TimePitch {
public:
    static constexpr float minPitch = -2400.0f;
    static constexpr float maxPitch = 2400.0f;

    TimePitch();
    ~TimePitch();
    TimePitch(const TimePitch&) = delete;
    TimePitch& operator=(const TimePitch&) = delete;

    void prepare(double sampleRate, std::size_t maxFrames);
    void reset() noexcept;
    void render(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept;

    /// Cents, -2400…2400 (default 0).
    void setPitch(float cents) noexcept;
    void setBypass(bool bypass) noexcept;

    /// Frames pulled from upstream but not yet rendered (0 when bypassed).
    [[nodiscard]] std::size_t latencyFrames() const noexcept;
    /// Frames pulled from upstream by the last render() call.
    [[nodiscard]] std::size_t lastUpstreamFrames() const noexcept { return lastUpstreamFrames_; }
    /// Frames pulled from upstream since prepare() or reset().
    [[nodiscard]] std::uint64_t upstreamFramesConsumed() const noexcept { return consumed_; }
    /// Frames rendered since prepare() or reset().
    [[nodiscard]] std::uint64_t framesRendered() const noexcept { return rendered_; }

private:
    /// The stretched signal, as the resampler's upstream.
    struct Stretched final : AudioSource {
        TimePitch* owner = nullptr;
        void pull(float* left, float* right, std::size_t frames) noexcept override {
            owner->pullStretched(left, right, frames);
        }
    };

    void renderWet(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept;
    void pullStretched(float* left, float* right, std::size_t frames) noexcept;
    void applyPitch() noexcept;
    /// Empties both stages and settles them on the pitch asked for, with no glide.
    void restartWetPath() noexcept;

    // Render thread only.
    std::unique_ptr<soundtouch::SoundTouch> stretcher_;
    Varispeed resampler_;
    Stretched stretched_;
    AudioSource* upstream_ = nullptr; // set for the duration of a render() call
    double sampleRate_ = 44100.0;
    float pitch_ = 0.0f;
    float appliedPitch_ = 0.0f;
    std::vector<float> interleaved_;
    std::vector<float> pullLeft_, pullRight_;
    PathSwitch path_;
    std::uint64_t consumed_ = 0;
    std::uint64_t rendered_ = 0;
    std::uint64_t wetConsumed_ = 0; // of consumed_, what went into the stretcher
    std::uint64_t wetRendered_ = 0;
    std::size_t lastUpstreamFrames_ = 0;
};

} // namespace somnara::dsp
