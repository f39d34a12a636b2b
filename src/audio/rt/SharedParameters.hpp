#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace somnara::rt {

// Targets published by the control nodes on the loop and read by the render thread once per block.
// Each value stands alone, so loads and stores are relaxed; where several values must be seen
// together (an EQ band) a version counter is bumped with release after the values are stored and read
// with acquire before they are loaded. Owned by shared_ptr on both sides, so a node that goes away
// never leaves the render thread reading freed memory.

struct MixerParameters {
    std::atomic<float> outputVolume{1.0F};
};

struct TimePitchParameters {
    std::atomic<float> pitch{0.0F};
    std::atomic<bool> bypass{false};
};

struct VarispeedParameters {
    std::atomic<float> rate{1.0F};
    std::atomic<bool> bypass{false};
};

struct DelayParameters {
    std::atomic<float> delayTime{1.0F};
    std::atomic<float> feedback{50.0F};
    std::atomic<float> lowPassCutoff{15'000.0F};
    std::atomic<float> wetDryMix{100.0F};
    std::atomic<bool> bypass{false};
};

struct ReverbParameters {
    std::atomic<float> wetDryMix{100.0F};
    std::atomic<int> preset{3};
    std::atomic<bool> bypass{false};
};

struct EqBandParameters {
    std::atomic<int> filterType{0};
    std::atomic<float> frequency{1'000.0F};
    std::atomic<float> bandwidth{1.0F};
    std::atomic<float> gain{0.0F};
    std::atomic<bool> bypass{true};
};

struct EqParameters {
    static constexpr std::size_t bandCount = 10;
    std::array<EqBandParameters, bandCount> bands;
    std::atomic<float> globalGain{0.0F};
    std::atomic<bool> bypass{false};
    std::atomic<std::uint32_t> version{0};
};

} // namespace somnara::rt
