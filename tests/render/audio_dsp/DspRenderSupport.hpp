#pragma once

#include "audio/dsp/AudioSource.hpp"
#include "audio/dsp/Delay.hpp"
#include "audio/dsp/ParametricEQ.hpp"
#include "audio/dsp/Reverb.hpp"
#include "support/SignalMeasurements.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <numbers>
#include <span>
#include <vector>

namespace somnara::dsp::test {

/// The rate the units run at, unless a test says otherwise.
inline constexpr double rate = 48000.0;

struct Stereo {
    std::vector<float> left;
    std::vector<float> right;
    explicit Stereo(std::size_t frames = 0) : left(frames, 0.0f), right(frames, 0.0f) {}
    Stereo(std::vector<float> l, std::vector<float> r) : left(std::move(l)), right(std::move(r)) {}
    [[nodiscard]] std::size_t frames() const { return left.size(); }
};

/// A parameter change applied before the frame at `frame` is processed.
struct Change {
    std::size_t frame;
    std::function<void()> apply;
};

/// Runs an in-place unit over `signal` in blocks of the given sizes (cycled), splitting blocks at the
/// frames where changes apply so every block size sees them at the same frame.
template <class Unit>
Stereo processInBlocks(Unit& unit, Stereo signal, const std::vector<std::size_t>& blockSizes,
                       const std::vector<Change>& changes = {}) {
    std::size_t pos = 0;
    std::size_t nextChange = 0;
    std::size_t blockIndex = 0;
    const std::size_t total = signal.frames();
    while (pos < total) {
        while (nextChange < changes.size() && changes[nextChange].frame <= pos) {
            changes[nextChange++].apply();
        }
        std::size_t n = std::min(blockSizes[blockIndex++ % blockSizes.size()], total - pos);
        if (nextChange < changes.size()) {
            n = std::min(n, changes[nextChange].frame - pos);
        }
        unit.process(signal.left.data() + pos, signal.right.data() + pos, n);
        pos += n;
    }
    return signal;
}

/// An upstream that plays a sine on both channels (right a quarter turn later), counting what is pulled.
/// Its frequency may change while it plays; the phase carries on.
class SineSource final : public AudioSource {
public:
    SineSource(double frequency, double sampleRate) : frequency(frequency), sampleRate_(sampleRate) {}
    void pull(float* left, float* right, std::size_t frames) noexcept override {
        for (std::size_t i = 0; i < frames; ++i) {
            left[i] = static_cast<float>(0.5 * std::sin(phase_));
            right[i] = static_cast<float>(0.5 * std::cos(phase_));
            phase_ =
                std::fmod(phase_ + 2.0 * std::numbers::pi * frequency / sampleRate_, 2.0 * std::numbers::pi);
        }
        pulled_ += frames;
    }
    [[nodiscard]] std::uint64_t pulled() const { return pulled_; }
    double frequency;

private:
    double sampleRate_;
    double phase_ = 0.0;
    std::uint64_t pulled_ = 0;
};

/// Renders `frames` frames from a pull unit in blocks of `block`.
template <class Unit>
Stereo renderPull(Unit& unit, AudioSource& upstream, std::size_t frames, std::size_t block) {
    Stereo out(frames);
    for (std::size_t pos = 0; pos < frames; pos += block) {
        const std::size_t n = std::min(block, frames - pos);
        unit.render(out.left.data() + pos, out.right.data() + pos, n, upstream);
    }
    return out;
}

// The units set up to change a signal audibly.
inline std::shared_ptr<Delay> makeDelay(float seconds, float feedback, float mix) {
    auto unit = std::make_shared<Delay>();
    unit->prepare(rate, 512);
    unit->setDelayTime(seconds);
    unit->setFeedback(feedback);
    unit->setWetDryMix(mix);
    return unit;
}
inline std::shared_ptr<Reverb> makeReverb(float mix, ReverbPreset preset = ReverbPreset::largeHall) {
    auto unit = std::make_shared<Reverb>();
    unit->prepare(rate, 512);
    unit->loadFactoryPreset(preset);
    unit->setWetDryMix(mix);
    return unit;
}
inline std::shared_ptr<ParametricEQ> makeShelf(float gain) {
    auto unit = std::make_shared<ParametricEQ>();
    unit->prepare(rate, 512);
    unit->setBandFilterType(0, EQFilterType::lowShelf);
    unit->setBandFrequency(0, 1000.0f);
    unit->setBandGain(0, gain);
    unit->setBandBypass(0, false);
    return unit;
}
inline std::span<const float> slice(const std::vector<float>& x, std::size_t from, std::size_t count) {
    return std::span<const float>(x).subspan(from, std::min(count, x.size() - from));
}

/// The share of the energy in the sample-to-sample differences: falls as a sound darkens.
inline double brightness(std::span<const float> x) {
    std::vector<float> differences(x.size() - 1);
    for (std::size_t i = 1; i < x.size(); ++i) {
        differences[i - 1] = x[i] - x[i - 1];
    }
    return somnara::test::rms(differences) / somnara::test::rms(x);
}

} // namespace somnara::dsp::test
