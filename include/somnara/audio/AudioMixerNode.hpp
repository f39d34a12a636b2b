#pragma once

#include <somnara/audio/AudioNode.hpp>

#include <cstdint>
#include <memory>

namespace somnara {

namespace rt {
struct MixerParameters;
}

/// Sums its inputs (player nodes and at most one other node) and scales the sum by `outputVolume`.
/// Sums are not clipped inside the graph; only the device clips. Loop only.
class AudioMixerNode final : public AudioNode {
public:
    AudioMixerNode();
    ~AudioMixerNode() override;

    /// Linear gain of the mix, 0 to 1 (default 1); values outside are clamped. Smoothed while rendering.
    float outputVolume() const noexcept { return outputVolume_; }
    void setOutputVolume(float volume) noexcept;

private:
    friend class AudioEngine;

    // Loop only.
    float outputVolume_ = 1.0F;
    /// Given by the engine on attach; names the mixer for the render side.
    std::uint8_t mixerId_ = 0xff;
    // Shared with the render twin.
    const std::shared_ptr<rt::MixerParameters> parameters_;
};

} // namespace somnara
