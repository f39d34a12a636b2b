#include "audio/dsp/Varispeed.hpp"

#include <algorithm>
#include <cmath>

namespace somnara::dsp {

void Varispeed::prepare(double sampleRate, std::size_t maxFrames) {
    maxFrames_ = maxFrames;
    glideFrames_ = static_cast<std::size_t>(std::lround(rateGlideSeconds * sampleRate));
    inputRampFrames_ = static_cast<std::size_t>(std::lround(PathSwitch::halfFadeSeconds * sampleRate));
    path_.prepare(sampleRate, maxFrames);
    input_.owner = this;
    resampler_.prepare(maxRate, maxFrames);
    reset();
}

void Varispeed::reset() noexcept {
    restartResampler();
    path_.request(path_.isProcessed(), true);
    consumed_ = 0;
    lastUpstreamFrames_ = 0;
    running_ = false;
}

void Varispeed::setRate(float rate) noexcept {
    if (std::isnan(rate)) {
        return;
    }
    rate_ = std::clamp(rate, static_cast<float>(minRate), static_cast<float>(maxRate));
}

void Varispeed::setBypass(bool bypass) noexcept {
    path_.request(!bypass, !running_);
}

double Varispeed::latencyFrames() const noexcept {
    if (maxFrames_ == 0 || !path_.isProcessed()) {
        return 0.0;
    }
    // A frame has left once the position has passed it by half the kernel's width.
    const double ratio = resampler_.ratio();
    return static_cast<double>(SincResampler::taps / 2) * std::max(1.0, ratio) / ratio;
}

void Varispeed::pullInput(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept {
    upstream.pull(left, right, frames);
    consumed_ += frames;
    lastUpstreamFrames_ += frames;
    for (std::size_t i = 0; i < frames && inputRampRemaining_ > 0; ++i, --inputRampRemaining_) {
        const float g =
            1.0f - static_cast<float>(inputRampRemaining_) / static_cast<float>(inputRampFrames_ + 1);
        left[i] *= g;
        right[i] *= g;
    }
}

void Varispeed::restartResampler() noexcept {
    appliedRate_ = rate_;
    resampler_.setRatio(rate_, 0);
    resampler_.reset();
}

void Varispeed::renderWet(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept {
    if (rate_ != appliedRate_) {
        appliedRate_ = rate_;
        resampler_.setRatio(rate_, glideFrames_);
    }
    input_.upstream = &upstream;
    resampler_.render(left, right, frames, input_);
    input_.upstream = nullptr;
}

void Varispeed::render(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept {
    running_ = true;
    lastUpstreamFrames_ = 0;
    const std::size_t passed = path_.render(
        left, right, frames, upstream,
        [this](bool processed) {
            if (processed) {
                // Back from bypass: a clean kernel at the rate asked for now, not a glide from the rate
                // before the bypass. It would meet the upstream mid-waveform, so its input ramps in.
                restartResampler();
                fadeInInput();
            }
        },
        [&](float* l, float* r, std::size_t n) { renderWet(l, r, n, upstream); });
    consumed_ += passed;
    lastUpstreamFrames_ += passed;
}

} // namespace somnara::dsp
