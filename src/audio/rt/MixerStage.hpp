#pragma once

#include "EventSink.hpp"
#include "SharedParameters.hpp"
#include "Stage.hpp"
#include "Voice.hpp"
#include "audio/dsp/LinearSmoother.hpp"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace somnara::rt {

/// A mixer: the sum of the voices routed to it and, for the main mixer, of the chain before it, times
/// its smoothed output volume. Sums in float with no clipping; only the device clips.
class MixerStage final : public Stage {
public:
    MixerStage(std::uint8_t id, std::size_t index, std::shared_ptr<MixerParameters> parameters,
               std::span<Voice> voices, EventSink& sink, bool waitForData);

    void prepare(double sampleRate, std::size_t maxFrames) override;
    void applyParameters() noexcept override;

private:
    void produce(float* left, float* right, std::size_t frames) noexcept override;

    // Immutable after construction.
    const std::uint8_t id_;
    const std::size_t index_;
    const std::shared_ptr<MixerParameters> parameters_;
    const std::span<Voice> voices_;
    EventSink& sink_;
    const bool waitForData_;
    // Render thread only.
    std::size_t maxFrames_ = 0;
    std::size_t rampFrames_ = 882;
    dsp::LinearSmoother outputVolume_{1.0F};
    std::vector<float> gains_;
};

} // namespace somnara::rt
