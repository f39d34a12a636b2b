#include <somnara/audio/dsp/Varispeed.hpp>

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace somnara::dsp {

Varispeed::~Varispeed() {
    destroy();
}

void Varispeed::destroy() noexcept {
    if (resampler_ != nullptr) {
        soxr_delete(resampler_);
        resampler_ = nullptr;
    }
}

void Varispeed::prepare(double sampleRate, std::size_t maxFrames) {
    destroy();
    sampleRate_ = sampleRate;
    maxFrames_ = maxFrames;
    glideFrames_ = static_cast<std::size_t>(std::lround(rateGlideSeconds * sampleRate));
    inputRampFrames_ = static_cast<std::size_t>(std::lround(PathSwitch::halfFadeSeconds * sampleRate));
    // Input is requested in pieces of at most this many frames: enough for one block at the top rate.
    const std::size_t inputFrames = std::max<std::size_t>(static_cast<std::size_t>(maxRate * maxFrames), 64);
    inLeft_.assign(inputFrames, 0.0f);
    inRight_.assign(inputFrames, 0.0f);
    inInterleaved_.assign(2 * inputFrames, 0.0f);
    outInterleaved_.assign(2 * maxFrames, 0.0f);
    path_.prepare(sampleRate);

    // A variable-rate resampler must be created with the largest input/output ratio it will be given.
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_VR);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    resampler_ = soxr_create(maxRate, 1.0, 2, &error, &io, &quality, &runtime);
    if (error != nullptr || resampler_ == nullptr) {
        resampler_ = nullptr;
        maxFrames_ = 0; // unusable: render() passes the input through
        throw std::runtime_error(std::string("variable-rate resampler: ") + soxr_strerror(error));
    }
    inputFrames_ = inputFrames;
    soxr_set_input_fn(resampler_, &Varispeed::supplyInput, this, inputFrames_);

    // The resampler builds its filters and grows its buffers lazily: run it here through the extreme
    // rates and glides between them, so that rendering later finds everything in place.
    upstream_ = &silence_;
    for (const double rate : {maxRate, minRate, maxRate, 1.0, minRate, static_cast<double>(rate_)}) {
        soxr_set_io_ratio(resampler_, rate, glideFrames_);
        for (int i = 0; i < 64; ++i) {
            soxr_output(resampler_, outInterleaved_.data(), maxFrames);
        }
    }
    upstream_ = nullptr;
    reset();
}

void Varispeed::reset() noexcept {
    if (resampler_ != nullptr) {
        restartResampler();
    }
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
    if (resampler_ == nullptr || !path_.isProcessed()) {
        return 0.0;
    }
    return soxr_delay(resampler_);
}

void Varispeed::restartResampler() noexcept {
    // soxr_clear() would free and rebuild the filters (and forget the input function); instead, run
    // silence through until everything the resampler holds has come out, which leaves it as clean
    // without touching the heap.
    appliedRate_ = rate_;
    soxr_set_io_ratio(resampler_, rate_, 0);
    upstream_ = &silence_;
    const std::uint64_t consumedBefore = consumed_;
    // Up to inputFrames_ of input may wait inside; at rate r they take inputFrames_/r output frames to
    // come out (about 8k frames at the slowest rate: a millisecond or two, once per switch).
    const auto pending = static_cast<std::size_t>(
                             std::ceil(soxr_delay(resampler_) + static_cast<double>(inputFrames_) / rate_)) +
                         64;
    for (std::size_t done = 0; done < pending; done += maxFrames_) {
        soxr_output(resampler_, outInterleaved_.data(), std::min(maxFrames_, pending - done));
    }
    upstream_ = nullptr;
    consumed_ = consumedBefore;
}

std::size_t Varispeed::supplyInput(void* state, const void** data, std::size_t requested) noexcept {
    auto* self = static_cast<Varispeed*>(state);
    const std::size_t n = std::min(requested, self->inLeft_.size());
    if (self->upstream_ == nullptr || n == 0) {
        *data = nullptr;
        return 0;
    }
    self->upstream_->pull(self->inLeft_.data(), self->inRight_.data(), n);
    if (self->upstream_ != &self->silence_) {
        self->consumed_ += n;
        self->lastUpstreamFrames_ += n;
        for (std::size_t i = 0; i < n && self->inputRampRemaining_ > 0; ++i, --self->inputRampRemaining_) {
            const float g = 1.0f - static_cast<float>(self->inputRampRemaining_) /
                                       static_cast<float>(self->inputRampFrames_ + 1);
            self->inLeft_[i] *= g;
            self->inRight_[i] *= g;
        }
    }
    float* interleaved = self->inInterleaved_.data();
    for (std::size_t i = 0; i < n; ++i) {
        interleaved[2 * i] = self->inLeft_[i];
        interleaved[2 * i + 1] = self->inRight_[i];
    }
    *data = interleaved;
    return n;
}

void Varispeed::render(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept {
    lastUpstreamFrames_ = 0;
    if (maxFrames_ == 0) {
        upstream.pull(left, right, frames);
        lastUpstreamFrames_ = frames;
        consumed_ += frames;
        return;
    }
    for (std::size_t offset = 0; offset < frames; offset += maxFrames_) {
        renderChunk(left + offset, right + offset, std::min(maxFrames_, frames - offset), upstream);
    }
}

void Varispeed::renderWet(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept {
    if (rate_ != appliedRate_) {
        appliedRate_ = rate_;
        soxr_set_io_ratio(resampler_, rate_, glideFrames_);
    }
    upstream_ = &upstream;
    std::size_t done = 0;
    const float* out = outInterleaved_.data();
    while (done < frames) {
        const std::size_t got = soxr_output(resampler_, outInterleaved_.data(), frames - done);
        if (got == 0) {
            break;
        }
        for (std::size_t i = 0; i < got; ++i) {
            left[done + i] = out[2 * i];
            right[done + i] = out[2 * i + 1];
        }
        done += got;
    }
    upstream_ = nullptr;
    std::fill(left + done, left + frames, 0.0f);
    std::fill(right + done, right + frames, 0.0f);
}

void Varispeed::renderChunk(float* left, float* right, std::size_t frames, AudioSource& upstream) noexcept {
    running_ = true;
    while (frames > 0) {
        bool switched = false;
        const std::size_t n = path_.nextPiece(frames, switched);
        if (switched && !path_.isProcessed()) {
            restartResampler(); // re-entering later starts from a clean filter
        } else if (switched) {
            // The clean resampler would meet the upstream mid-waveform; ramp its input in instead.
            fadeInInput();
        }
        if (path_.isProcessed()) {
            renderWet(left, right, n, upstream);
        } else {
            upstream.pull(left, right, n);
            consumed_ += n;
            lastUpstreamFrames_ += n;
        }
        path_.apply(left, right, n);
        left += n;
        right += n;
        frames -= n;
    }
}

} // namespace somnara::dsp
