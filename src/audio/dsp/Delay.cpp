#include "audio/dsp/Delay.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

namespace somnara::dsp {

void Delay::prepare(double sampleRate, std::size_t maxFrames) {
    sampleRate_ = sampleRate;
    rampFrames_ = static_cast<std::size_t>(std::lround(rampSeconds * sampleRate));
    crossfadeFrames_ = static_cast<std::size_t>(std::lround(tapCrossfadeSeconds * sampleRate));
    const auto lineFrames =
        std::bit_ceil(static_cast<std::size_t>(std::ceil(maxDelaySeconds * sampleRate)) + 2);
    lineLeft_.assign(lineFrames, 0.0f);
    lineRight_.assign(lineFrames, 0.0f);
    mask_ = lineFrames - 1;
    bypass_.prepare(sampleRate, maxFrames);
    // Re-derive the sample-rate dependent values from the user's settings.
    const float seconds = delaySeconds_;
    delaySeconds_ = -1.0f;
    setDelayTime(seconds);
    lowPassA_.reset(lowPassCoefficient(cutoffHz_));
    reset();
}

void Delay::reset() noexcept {
    std::fill(lineLeft_.begin(), lineLeft_.end(), 0.0f);
    std::fill(lineRight_.begin(), lineRight_.end(), 0.0f);
    write_ = 0;
    tapFrames_ = nextTapFrames_ = targetTapFrames_;
    tapFade_.reset(0.0f);
    feedback_.reset(feedback_.target());
    wet_.reset(wet_.target());
    lowPassA_.reset(lowPassA_.target());
    lowPassLeft_ = lowPassRight_ = 0.0f;
    feedIn_.reset(1.0f);
    linesEmpty_ = true;
    bypass_.reset();
}

float Delay::lowPassCoefficient(float hertz) const noexcept {
    // One-pole y += a·(x - y) with a = 1 - e^(-2π·fc/fs): unity gain at DC, -3 dB near fc.
    return static_cast<float>(1.0 - std::exp(-2.0 * std::numbers::pi * hertz / sampleRate_));
}

void Delay::setDelayTime(float seconds) noexcept {
    if (std::isnan(seconds)) {
        return;
    }
    seconds = std::clamp(seconds, 0.0f, static_cast<float>(maxDelaySeconds));
    delaySeconds_ = seconds;
    const auto frames = static_cast<std::size_t>(std::lround(static_cast<double>(seconds) * sampleRate_));
    targetTapFrames_ = std::max<std::size_t>(frames, 1);
    if (!bypass_.isAudible()) {
        tapFrames_ = nextTapFrames_ = targetTapFrames_;
        tapFade_.reset(0.0f);
    }
}

void Delay::setFeedback(float percent) noexcept {
    if (std::isnan(percent)) {
        return;
    }
    const float gain = std::clamp(percent / 100.0f, -maxLoopGain, maxLoopGain);
    bypass_.isAudible() ? feedback_.setTarget(gain, rampFrames_) : feedback_.reset(gain);
}

void Delay::setLowPassCutoff(float hertz) noexcept {
    if (std::isnan(hertz)) {
        return;
    }
    cutoffHz_ = std::clamp(hertz, 10.0f, static_cast<float>(sampleRate_ / 2.0));
    const float a = lowPassCoefficient(cutoffHz_);
    bypass_.isAudible() ? lowPassA_.setTarget(a, rampFrames_) : lowPassA_.reset(a);
}

void Delay::setWetDryMix(float percent) noexcept {
    if (std::isnan(percent)) {
        return;
    }
    const float mix = std::clamp(percent, 0.0f, 100.0f) / 100.0f;
    bypass_.isAudible() ? wet_.setTarget(mix, rampFrames_) : wet_.reset(mix);
}

void Delay::process(float* left, float* right, std::size_t frames) noexcept {
    if (linesEmpty_ && bypass_.isAudible()) {
        // Coming back from bypass with a sound already playing through: fade it into the empty lines.
        feedIn_.reset(0.0f);
        feedIn_.setTarget(1.0f, rampFrames_);
    }
    bypass_.process(
        left, right, frames, [] { return false; },
        // Bypass drops the tail, so re-enabling never replays stale echoes.
        [this] { reset(); }, [this](float* l, float* r, std::size_t n) { processWet(l, r, n); });
}

namespace {

/// One frame's feed into the lines and its wet/dry mix, after the low-pass has given `lpL` and `lpR`.
inline void feedAndMix(float* lineL, float* lineR, std::size_t w, float lpL, float lpR, float fb, float m,
                       float in, float& left, float& right) noexcept {
    const float xL = left;
    const float xR = right;
    lineL[w] = in * xL + fb * lpL;
    lineR[w] = in * xR + fb * lpR;
    left = xL + m * (lpL - xL);
    right = xR + m * (lpR - xR);
}

} // namespace

void Delay::processWet(float* left, float* right, std::size_t frames) noexcept {
    linesEmpty_ = false;
    float* lineL = lineLeft_.data();
    float* lineR = lineRight_.data();
    const std::size_t mask = mask_;
    std::size_t w = write_;
    float lpL = lowPassLeft_;
    float lpR = lowPassRight_;
    if (!tapFade_.isSmoothing() && targetTapFrames_ == tapFrames_ && !lowPassA_.isSmoothing() &&
        !feedback_.isSmoothing() && !wet_.isSmoothing() && !feedIn_.isSmoothing()) {
        // Nothing moves: the same loop with its parameters as constants.
        const float a = lowPassA_.target();
        const float fb = feedback_.target();
        const float m = wet_.target();
        const std::size_t tap = tapFrames_;
        for (std::size_t i = 0; i < frames; ++i) {
            lpL += a * (lineL[(w - tap) & mask] - lpL);
            lpR += a * (lineR[(w - tap) & mask] - lpR);
            feedAndMix(lineL, lineR, w, lpL, lpR, fb, m, 1.0f, left[i], right[i]);
            w = (w + 1) & mask;
        }
    } else {
        for (std::size_t i = 0; i < frames; ++i) {
            if (!tapFade_.isSmoothing() && targetTapFrames_ != tapFrames_) {
                nextTapFrames_ = targetTapFrames_;
                tapFade_.reset(0.0f);
                tapFade_.setTarget(1.0f, crossfadeFrames_);
            }
            float dL = lineL[(w - tapFrames_) & mask];
            float dR = lineR[(w - tapFrames_) & mask];
            if (tapFade_.isSmoothing()) {
                const float f = tapFade_.next();
                dL += f * (lineL[(w - nextTapFrames_) & mask] - dL);
                dR += f * (lineR[(w - nextTapFrames_) & mask] - dR);
                if (!tapFade_.isSmoothing()) {
                    tapFrames_ = nextTapFrames_;
                    tapFade_.reset(0.0f);
                }
            }
            const float a = lowPassA_.next();
            lpL += a * (dL - lpL);
            lpR += a * (dR - lpR);
            feedAndMix(lineL, lineR, w, lpL, lpR, feedback_.next(), wet_.next(), feedIn_.next(), left[i],
                       right[i]);
            w = (w + 1) & mask;
        }
    }
    write_ = w;
    lowPassLeft_ = lpL;
    lowPassRight_ = lpR;
}

} // namespace somnara::dsp
