#include "audio/dsp/TimePitch.hpp"

#include <SoundTouch.h>

#include <algorithm>
#include <cmath>
#include <limits>

static_assert(std::is_same_v<soundtouch::SAMPLETYPE, float>, "the stretcher must be built for float samples");

namespace somnara::dsp {

namespace {
// Frames pulled from upstream per refill: small enough that the upstream runs no further ahead than the
// stretcher needs.
constexpr std::size_t refillFrames = 256;

double pitchFactor(float cents) noexcept {
    return std::exp2(static_cast<double>(cents) / 1200.0);
}
} // namespace

TimePitch::TimePitch() {
    stretched_.owner = this;
}
TimePitch::~TimePitch() = default;

void TimePitch::prepare(double sampleRate, std::size_t maxFrames) {
    sampleRate_ = sampleRate;
    stretcher_ = std::make_unique<soundtouch::SoundTouch>();
    stretcher_->setSampleRate(static_cast<unsigned>(std::lround(sampleRate)));
    stretcher_->setChannels(2);
    stretcher_->setPitch(1.0);
    stretcher_->setRate(1.0);
    // The quick seek finds the splice points with a coarse-to-fine search, at a fraction of the cost
    // of the full search and with no audible difference on steady, noisy sounds.
    stretcher_->setSetting(SETTING_USE_QUICKSEEK, 1);
    // The stretcher's own transposer stays at rate 1 (the resampler does the transposing), where its
    // anti-alias filter would only cost time.
    stretcher_->setSetting(SETTING_USE_AA_FILTER, 0);
    resampler_.prepare(sampleRate, maxFrames);
    // The resampler asks for up to 4 × maxFrames stretched frames at a time.
    const std::size_t bufferFrames =
        std::max(static_cast<std::size_t>(Varispeed::maxRate) * maxFrames, refillFrames);
    interleaved_.assign(2 * bufferFrames, 0.0f);
    pullLeft_.assign(refillFrames, 0.0f);
    pullRight_.assign(refillFrames, 0.0f);
    path_.prepare(sampleRate, maxFrames);

    // Run the stretcher at both extremes so that its internal buffers grow to full size here and not on
    // the render thread.
    for (const float cents : {maxPitch, minPitch}) {
        stretcher_->setTempo(1.0 / pitchFactor(cents));
        for (int i = 0; i < 64; ++i) {
            std::fill(interleaved_.begin(), interleaved_.end(), 0.0f);
            stretcher_->putSamples(interleaved_.data(), static_cast<unsigned>(bufferFrames));
            while (stretcher_->numSamples() > 0) {
                stretcher_->receiveSamples(interleaved_.data(), static_cast<unsigned>(bufferFrames));
            }
        }
    }
    appliedPitch_ = std::numeric_limits<float>::quiet_NaN(); // the warm-up left both stages elsewhere
    reset();
}

void TimePitch::reset() noexcept {
    if (stretcher_) {
        restartWetPath();
    }
    path_.request(path_.isProcessed(), true);
    consumed_ = rendered_ = 0;
    lastUpstreamFrames_ = 0;
}

void TimePitch::setPitch(float cents) noexcept {
    if (std::isnan(cents)) {
        return;
    }
    pitch_ = std::clamp(cents, minPitch, maxPitch);
}

void TimePitch::setBypass(bool bypass) noexcept {
    path_.request(!bypass, rendered_ == 0);
}

std::size_t TimePitch::latencyFrames() const noexcept {
    // Transiently (while the resampler glides to a new pitch) the two stages may disagree by a little.
    const bool holding = path_.isProcessed() && wetConsumed_ > wetRendered_;
    return holding ? static_cast<std::size_t>(wetConsumed_ - wetRendered_) : 0;
}

void TimePitch::applyPitch() noexcept {
    if (pitch_ != appliedPitch_) {
        appliedPitch_ = pitch_;
        const double factor = pitchFactor(pitch_);
        stretcher_->setTempo(1.0 / factor);
        resampler_.setRate(static_cast<float>(factor));
    }
}

void TimePitch::pullStretched(float* left, float* right, std::size_t frames) noexcept {
    while (stretcher_->numSamples() < frames) {
        upstream_->pull(pullLeft_.data(), pullRight_.data(), refillFrames);
        consumed_ += refillFrames;
        wetConsumed_ += refillFrames;
        lastUpstreamFrames_ += refillFrames;
        for (std::size_t i = 0; i < refillFrames; ++i) {
            interleaved_[2 * i] = pullLeft_[i];
            interleaved_[2 * i + 1] = pullRight_[i];
        }
        stretcher_->putSamples(interleaved_.data(), static_cast<unsigned>(refillFrames));
    }
    const unsigned got = stretcher_->receiveSamples(interleaved_.data(), static_cast<unsigned>(frames));
    for (std::size_t i = 0; i < got; ++i) {
        left[i] = interleaved_[2 * i];
        right[i] = interleaved_[2 * i + 1];
    }
    std::fill(left + got, left + frames, 0.0f);
    std::fill(right + got, right + frames, 0.0f);
}

void TimePitch::renderWet(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept {
    applyPitch();
    upstream_ = &upstream;
    resampler_.render(left, right, frames, stretched_);
    upstream_ = nullptr;
    wetRendered_ += frames;
}

void TimePitch::restartWetPath() noexcept {
    // At the pitch asked for now: a glide from an earlier one would be heard as a sweep.
    applyPitch();
    stretcher_->clear();
    resampler_.reset();
    wetConsumed_ = wetRendered_ = 0;
}

void TimePitch::render(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept {
    lastUpstreamFrames_ = 0;
    rendered_ += frames;
    const std::size_t passed = path_.render(
        left, right, frames, upstream,
        [this](bool processed) {
            // Back from bypass, what the stretcher held from before is dropped (unheard, at silence),
            // and the resampler's input ramps in, as the stretcher restarts mid-waveform.
            if (processed) {
                restartWetPath();
                resampler_.fadeInInput();
            }
        },
        [&](float* l, float* r, std::size_t n) { renderWet(l, r, n, upstream); });
    consumed_ += passed;
    lastUpstreamFrames_ += passed;
}

} // namespace somnara::dsp
