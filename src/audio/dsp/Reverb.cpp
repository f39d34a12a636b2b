#include "audio/dsp/Reverb.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

namespace somnara::dsp {

namespace {

// Delay-line lengths in frames at 44.1 kHz for size 1: mutually prime, 32-63 ms, so the echoes of the
// lines never line up into a flutter.
constexpr std::array<double, Reverb::lineCount> baseLineFrames{1433, 1601, 1867, 2053,
                                                               2251, 2399, 2617, 2797};
// Input diffusers (all-pass lengths at 44.1 kHz and their gains): they smear the first echoes into a
// dense wash before the network recirculates them.
constexpr std::array<double, 4> diffuserFrames{142, 107, 379, 277};
constexpr std::array<float, 4> diffuserGains{0.75f, 0.75f, 0.625f, 0.625f};
constexpr double maxSize = 1.4;
constexpr double maxPreDelaySeconds = 0.1;

/// The delay lines, interleaved: frame f of line k is at lines[(f & mask) * lineCount + k], so that the
/// eight values written at one frame are one vector store.
struct NetworkLines {
    float* lines;
    std::size_t mask;
    std::size_t write;
    const std::array<std::size_t, Reverb::lineCount>& lengths;
};

/// The feedback network over one block of the diffused input `x`; `states` holds the lines' absorption
/// filters.
[[gnu::always_inline]] inline void runNetworkBody(NetworkLines network, const float* x, float* wetLeft,
                                                  float* wetRight, std::size_t frames,
                                                  const std::array<float, Reverb::lineCount>& gains,
                                                  const std::array<float, Reverb::lineCount>& poles,
                                                  std::array<float, Reverb::lineCount>& states) noexcept {
    constexpr std::size_t lineCount = Reverb::lineCount;
    using V = float __attribute__((vector_size(lineCount * sizeof(float))));
    using Index = int __attribute__((vector_size(lineCount * sizeof(int))));
    V gain;
    V pole;
    V state;
    __builtin_memcpy(&gain, gains.data(), sizeof(V));
    __builtin_memcpy(&pole, poles.data(), sizeof(V));
    __builtin_memcpy(&state, states.data(), sizeof(V));
    constexpr float norm = 0.35355339059f; // 1/√8 keeps the feedback matrix orthogonal (lossless)
    const V oddNegative{1, -1, 1, -1, 1, -1, 1, -1};
    const V pairNegative{1, 1, -1, -1, 1, 1, -1, -1};
    const V halfNegative{1, 1, 1, 1, -1, -1, -1, -1};
    for (std::size_t i = 0; i < frames; ++i) {
        const std::size_t frame = network.write + i;
        V read;
        for (std::size_t k = 0; k < lineCount; ++k) {
            read[k] = network.lines[((frame - network.lengths[k]) & network.mask) * lineCount + k];
        }
        state = gain * read + pole * state;
        // Hadamard transform, unnormalised. Its rows 1 and 2 are the left and right sign patterns, so
        // the two outputs come out of it too.
        V h = __builtin_shuffle(state, Index{0, 0, 2, 2, 4, 4, 6, 6}) +
              __builtin_shuffle(state, Index{1, 1, 3, 3, 5, 5, 7, 7}) * oddNegative;
        h = __builtin_shuffle(h, Index{0, 1, 0, 1, 4, 5, 4, 5}) +
            __builtin_shuffle(h, Index{2, 3, 2, 3, 6, 7, 6, 7}) * pairNegative;
        h = __builtin_shuffle(h, Index{0, 1, 2, 3, 0, 1, 2, 3}) +
            __builtin_shuffle(h, Index{4, 5, 6, 7, 4, 5, 6, 7}) * halfNegative;
        wetLeft[i] = h[1];
        wetRight[i] = h[2];
        const V feedback = h * norm + x[i];
        __builtin_memcpy(network.lines + (frame & network.mask) * lineCount, &feedback, sizeof(V));
    }
    __builtin_memcpy(states.data(), &state, sizeof(V));
}

void runNetworkPortable(NetworkLines network, const float* x, float* wetLeft, float* wetRight,
                        std::size_t frames, const std::array<float, Reverb::lineCount>& gains,
                        const std::array<float, Reverb::lineCount>& poles,
                        std::array<float, Reverb::lineCount>& states) noexcept {
    runNetworkBody(network, x, wetLeft, wetRight, frames, gains, poles, states);
}

#if defined(__x86_64__) || defined(__i386__)
// With AVX2 the eight lines are one register.
__attribute__((target("avx2,fma"))) void
runNetworkAvx2(NetworkLines network, const float* x, float* wetLeft, float* wetRight, std::size_t frames,
               const std::array<float, Reverb::lineCount>& gains,
               const std::array<float, Reverb::lineCount>& poles,
               std::array<float, Reverb::lineCount>& states) noexcept {
    runNetworkBody(network, x, wetLeft, wetRight, frames, gains, poles, states);
}
#endif

using NetworkRunner = void (*)(NetworkLines, const float*, float*, float*, std::size_t,
                               const std::array<float, Reverb::lineCount>&,
                               const std::array<float, Reverb::lineCount>&,
                               std::array<float, Reverb::lineCount>&) noexcept;

/// The network's code for the processor the program runs on.
NetworkRunner networkRunner() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        return &runNetworkAvx2;
    }
#endif
    return &runNetworkPortable;
}

// Chosen once, when the library loads (a function-pointer choice rather than an ifunc, which runs
// before the sanitizers' runtimes are ready).
const NetworkRunner runNetwork = networkRunner();

} // namespace

ReverbPresetParameters Reverb::presetParameters(ReverbPreset preset) noexcept {
    switch (preset) {
    case ReverbPreset::smallRoom:
        return {0.45, 0.6, 0.45, 0.004};
    case ReverbPreset::mediumRoom:
        return {0.75, 0.6, 0.6, 0.008};
    case ReverbPreset::largeRoom:
        return {1.1, 0.6, 0.8, 0.012};
    case ReverbPreset::mediumHall:
        return {1.6, 0.55, 0.9, 0.018};
    case ReverbPreset::largeHall:
        return {2.4, 0.5, 1.0, 0.025};
    case ReverbPreset::plate:
        return {1.5, 0.8, 0.5, 0.0};
    case ReverbPreset::mediumChamber:
        return {1.0, 0.65, 0.65, 0.010};
    case ReverbPreset::largeChamber:
        return {1.4, 0.65, 0.8, 0.012};
    case ReverbPreset::cathedral:
        return {4.5, 0.45, 1.4, 0.040};
    case ReverbPreset::largeRoom2:
        return {1.3, 0.6, 0.85, 0.010};
    case ReverbPreset::mediumHall2:
        return {1.8, 0.55, 0.95, 0.020};
    case ReverbPreset::mediumHall3:
        return {1.9, 0.6, 0.9, 0.022};
    case ReverbPreset::largeHall2:
        return {2.8, 0.5, 1.1, 0.030};
    }
    return {1.6, 0.55, 0.9, 0.018};
}

void Reverb::prepare(double sampleRate, std::size_t maxFrames) {
    sampleRate_ = sampleRate;
    rampFrames_ = static_cast<std::size_t>(std::lround(rampSeconds * sampleRate));
    const double scale = sampleRate / 44100.0;
    std::size_t longest = 0;
    for (const double frames : baseLineFrames) {
        longest = std::max(longest, static_cast<std::size_t>(std::ceil(frames * maxSize * scale)) + 1);
    }
    lines_.assign(lineCount * std::bit_ceil(longest), 0.0f);
    lineMask_ = std::bit_ceil(longest) - 1;
    preDelay_.assign(std::bit_ceil(static_cast<std::size_t>(std::ceil(maxPreDelaySeconds * sampleRate)) + 1),
                     0.0f);
    preDelayMask_ = preDelay_.size() - 1;
    for (std::size_t i = 0; i < diffusers_.size(); ++i) {
        diffusers_[i].length =
            std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(diffuserFrames[i] * scale)));
        diffusers_[i].buffer.assign(diffusers_[i].length, 0.0f);
    }
    input_.assign(maxFrames, 0.0f);
    wetLeft_.assign(maxFrames, 0.0f);
    wetRight_.assign(maxFrames, 0.0f);
    bypass_.prepare(sampleRate, maxFrames);
    configure();
    reset();
}

void Reverb::configure() noexcept {
    const ReverbPresetParameters p = presetParameters(preset_);
    const double scale = sampleRate_ / 44100.0;
    const double ratio = std::clamp(p.highFrequencyDecayRatio, 0.1, 1.0);
    double meanLength = 0.0;
    for (std::size_t i = 0; i < lineCount; ++i) {
        lineLengths_[i] =
            static_cast<std::size_t>(std::lround(baseLineFrames[i] * std::min(p.size, maxSize) * scale));
        meanLength += static_cast<double>(lineLengths_[i]) / lineCount;
        // Loop gain for a 60 dB decay in decaySeconds: g = 10^(-3·M / (fs·T60)).
        const double g =
            std::pow(10.0, -3.0 * static_cast<double>(lineLengths_[i]) / (sampleRate_ * p.decaySeconds));
        // Jot's absorption filter g·(1-p)/(1-p·z⁻¹) makes the decay at Nyquist `ratio` times as long.
        const double pole = std::log(10.0) / 4.0 * std::log10(g) * (1.0 - 1.0 / (ratio * ratio));
        lineGains_[i] = static_cast<float>(g);
        damping_[i] = static_cast<float>(std::clamp(pole, 0.0, 0.95));
    }
    // A longer tail piles up more energy; scale the wet signal so that the presets sound about equally
    // loud on a steady input.
    const double recirculations = p.decaySeconds * sampleRate_ / (6.9 * meanLength);
    wetGain_ = static_cast<float>(0.7 / std::sqrt(1.0 + recirculations));
    preDelayFrames_ = std::max<std::size_t>(
        1, std::min(preDelayMask_, static_cast<std::size_t>(std::lround(p.preDelaySeconds * sampleRate_))));
}

void Reverb::clearState() noexcept {
    std::fill(lines_.begin(), lines_.end(), 0.0f);
    std::fill(preDelay_.begin(), preDelay_.end(), 0.0f);
    for (auto& d : diffusers_) {
        std::fill(d.buffer.begin(), d.buffer.end(), 0.0f);
        d.position = 0;
    }
    filterState_.fill(0.0f);
    lineWrite_ = 0;
    preDelayWrite_ = 0;
}

void Reverb::reset() noexcept {
    clearState();
    mix_.reset(mix_.target());
    bypass_.reset();
}

void Reverb::loadFactoryPreset(ReverbPreset preset) noexcept {
    preset_ = preset;
    configure();
    clearState();
}

void Reverb::setWetDryMix(float percent) noexcept {
    if (std::isnan(percent)) {
        return;
    }
    const float mix = std::clamp(percent, 0.0f, 100.0f) / 100.0f;
    if (bypass_.isAudible()) {
        mix_.setTarget(mix, rampFrames_);
    } else {
        mix_.reset(mix);
    }
}

void Reverb::process(float* left, float* right, std::size_t frames) noexcept {
    bypass_.process(
        left, right, frames, [this] { return mix_.target() == 0.0f && !mix_.isSmoothing(); },
        // Nothing of the tail is heard: drop it, so that raising the mix starts from silence rather than
        // from a frozen old tail.
        [this] { clearState(); }, [this](float* l, float* r, std::size_t n) { processBlock(l, r, n); });
}

void Reverb::processBlock(float* left, float* right, std::size_t frames) noexcept {
    float* x = input_.data();
    for (std::size_t i = 0; i < frames; ++i) {
        preDelay_[preDelayWrite_ & preDelayMask_] = 0.5f * (left[i] + right[i]);
        x[i] = preDelay_[(preDelayWrite_ - preDelayFrames_) & preDelayMask_];
        ++preDelayWrite_;
    }
    for (std::size_t d = 0; d < diffusers_.size(); ++d) {
        AllPass& ap = diffusers_[d];
        const float g = diffuserGains[d];
        for (std::size_t i = 0; i < frames;) {
            // Up to the end of the all-pass's buffer: each frame reads and rewrites its own slot.
            const std::size_t n = std::min(frames - i, ap.length - ap.position);
            float* slot = ap.buffer.data() + ap.position;
            for (std::size_t j = 0; j < n; ++j) {
                const float delayed = slot[j];
                const float w = x[i + j] + g * delayed;
                slot[j] = w;
                x[i + j] = delayed - g * w;
            }
            ap.position = ap.position + n == ap.length ? 0 : ap.position + n;
            i += n;
        }
    }

    std::array<float, lineCount> gain{};
    for (std::size_t k = 0; k < lineCount; ++k) {
        gain[k] = lineGains_[k] * (1.0f - damping_[k]);
    }
    runNetwork(NetworkLines{lines_.data(), lineMask_, lineWrite_, lineLengths_}, input_.data(),
               wetLeft_.data(), wetRight_.data(), frames, gain, damping_, filterState_);
    lineWrite_ += frames;
    const float* wetLeft = wetLeft_.data();
    const float* wetRight = wetRight_.data();

    if (mix_.isSmoothing()) {
        for (std::size_t i = 0; i < frames; ++i) {
            const float m = mix_.next();
            left[i] += m * (wetGain_ * wetLeft[i] - left[i]);
            right[i] += m * (wetGain_ * wetRight[i] - right[i]);
        }
    } else {
        const float m = mix_.target();
        for (std::size_t i = 0; i < frames; ++i) {
            left[i] += m * (wetGain_ * wetLeft[i] - left[i]);
            right[i] += m * (wetGain_ * wetRight[i] - right[i]);
        }
    }
}

} // namespace somnara::dsp
