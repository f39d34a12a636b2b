#include "MixerStage.hpp"

#include <algorithm>
#include <cmath>

namespace somnara::rt {

MixerStage::MixerStage(std::uint8_t id, std::size_t index, std::shared_ptr<MixerParameters> parameters,
                       std::span<Voice> voices, EventSink& sink, bool waitForData)
    : id_(id), index_(index), parameters_(std::move(parameters)), voices_(voices), sink_(sink),
      waitForData_(waitForData) {}

void MixerStage::prepare(double sampleRate, std::size_t maxFrames) {
    maxFrames_ = maxFrames;
    rampFrames_ = static_cast<std::size_t>(std::lround(Voice::rampSeconds * sampleRate));
    gains_.assign(4 * maxFrames, 0.0F);
    outputVolume_.reset(parameters_->outputVolume.load(std::memory_order_relaxed));
}

void MixerStage::applyParameters() noexcept {
    outputVolume_.setTarget(parameters_->outputVolume.load(std::memory_order_relaxed), rampFrames_);
}

void MixerStage::produce(float* left, float* right, std::size_t frames) noexcept {
    if (upstream_ != nullptr) {
        upstream_->pull(left, right, frames);
    } else {
        std::fill(left, left + frames, 0.0F);
        std::fill(right, right + frames, 0.0F);
    }
    // A pulling unit may ask for more than one block at once (a varispeed at rate 2): mix in pieces
    // the gain scratch can hold.
    const GainScratch scratch{gains_.data(), gains_.data() + maxFrames_, gains_.data() + 2 * maxFrames_,
                              gains_.data() + 3 * maxFrames_};
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t piece = std::min(maxFrames_, frames - done);
        const double time = static_cast<double>(produced() + static_cast<std::int64_t>(done));
        for (auto& voice : voices_) {
            if (voice.route() == id_) {
                voice.mix(left + done, right + done, piece, time, index_, scratch, sink_, waitForData_);
            }
        }
        done += piece;
    }
    if (outputVolume_.isSmoothing()) {
        for (std::size_t i = 0; i < frames; ++i) {
            const float gain = outputVolume_.next();
            left[i] *= gain;
            right[i] *= gain;
        }
    } else if (const float gain = outputVolume_.target(); gain != 1.0F) {
        for (std::size_t i = 0; i < frames; ++i) {
            left[i] *= gain;
            right[i] *= gain;
        }
    }
}

} // namespace somnara::rt
