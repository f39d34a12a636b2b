#pragma once

#include "audio/dsp/BypassFader.hpp"
#include "audio/dsp/LinearSmoother.hpp"

#include <cstddef>
#include <vector>

namespace somnara::dsp {

/// Echo: a stereo delay line with feedback and a one-pole low-pass inside the loop, so every repeat is
/// darker than the one before, like a tape delay. In place on planar stereo float32.
///
/// Per sample and channel: d = line[t - delay]; lp += a·(d - lp); line[t] = x + feedback·lp;
/// out = x + mix·(lp - x). The wet signal is the filtered tap, so the cut-off shapes the first echo too.
///
/// Render thread only: prepare() allocates the 2-second lines; everything else is noexcept and
/// allocation-free. Feedback, wet/dry and the low-pass coefficient glide over 20 ms. A new delay time is
/// reached by crossfading from the old tap to the new one over 50 ms (a sliding tap would bend the pitch
/// of the echoes); a change that arrives during a crossfade follows when it ends.
class Delay {
public:
    static constexpr double maxDelaySeconds = 2.0;
    static constexpr double rampSeconds = 0.02;
    static constexpr double tapCrossfadeSeconds = 0.05;
    /// At ±100 % feedback the loop gain is held just below one, so the echoes ring for minutes but
    /// never grow.
    static constexpr float maxLoopGain = 0.999f;

    void prepare(double sampleRate, std::size_t maxFrames);
    void reset() noexcept;
    void process(float* left, float* right, std::size_t frames) noexcept;

    /// Seconds, 0…2 (default 1). The shortest delay is one frame.
    void setDelayTime(float seconds) noexcept;
    /// Percent of the delayed signal fed back, -100…100 (default 50).
    void setFeedback(float percent) noexcept;
    /// Hz, 10 … half the sample rate (default 15000).
    void setLowPassCutoff(float hertz) noexcept;
    /// Percent, 0 = dry … 100 = wet (default 100).
    void setWetDryMix(float percent) noexcept;
    void setBypass(bool bypass) noexcept { bypass_.setBypass(bypass); }

    /// The delay in frames currently heard (the new tap once a crossfade has finished).
    [[nodiscard]] std::size_t delayFrames() const noexcept { return tapFrames_; }

private:
    void processWet(float* left, float* right, std::size_t frames) noexcept;
    [[nodiscard]] float lowPassCoefficient(float hertz) const noexcept;

    // Render thread only.
    double sampleRate_ = 44100.0;
    std::size_t rampFrames_ = 882;
    std::size_t crossfadeFrames_ = 2205;
    std::vector<float> lineLeft_, lineRight_;
    std::size_t mask_ = 0;
    std::size_t write_ = 0;
    std::size_t tapFrames_ = 44100;     // the tap in use
    std::size_t nextTapFrames_ = 44100; // the tap being faded in
    std::size_t targetTapFrames_ = 44100;
    LinearSmoother tapFade_{0.0f};
    float delaySeconds_ = 1.0f;
    float cutoffHz_ = 15000.0f;
    LinearSmoother feedback_{0.5f};
    LinearSmoother wet_{1.0f};
    /// How much of the input the lines take: faded in when the delay comes back from bypass, so that the
    /// first echo of a sound already playing rises instead of stepping in.
    LinearSmoother feedIn_{1.0f};
    bool linesEmpty_ = true;
    LinearSmoother lowPassA_{1.0f};
    float lowPassLeft_ = 0.0f, lowPassRight_ = 0.0f;
    BypassFader bypass_;
};

} // namespace somnara::dsp
