#include "audio/dsp/ParametricEQ.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace somnara::dsp {

namespace {

// Every band in one pass, both channels as one vector: band b at frame i waits only for band b - 1 at
// frame i and band b at frame i - 1, so the processor overlaps the bands' recursions instead of running
// each band's through the whole block in turn. The same arithmetic per band as processBand. The band
// count is a template argument so that the states stay in registers.
template <std::size_t N>
[[gnu::always_inline]] inline void runSectionsOf(ParametricEQ::SteadySection* sections, float* left,
                                                 float* right, std::size_t frames) noexcept {
    using Pair = ParametricEQ::SteadySection::Pair;
    std::array<Pair, N> s1;
    std::array<Pair, N> s2;
    for (std::size_t b = 0; b < N; ++b) {
        s1[b] = sections[b].s1;
        s2[b] = sections[b].s2;
    }
    for (std::size_t i = 0; i < frames; ++i) {
        Pair x{left[i], right[i]};
        for (std::size_t b = 0; b < N; ++b) {
            const ParametricEQ::SteadySection& c = sections[b];
            const Pair y = c.b0 * x + s1[b];
            s1[b] = c.b1 * x - c.a1 * y + s2[b];
            s2[b] = c.b2 * x - c.a2 * y;
            x = y;
        }
        left[i] = static_cast<float>(x[0]);
        right[i] = static_cast<float>(x[1]);
    }
    for (std::size_t b = 0; b < N; ++b) {
        sections[b].s1 = s1[b];
        sections[b].s2 = s2[b];
    }
}

template <std::size_t... N>
[[gnu::always_inline]] inline void runSectionsUpTo(ParametricEQ::SteadySection* sections, std::size_t count,
                                                   float* left, float* right, std::size_t frames,
                                                   std::index_sequence<N...>) noexcept {
    // Calls runSectionsOf<count>.
    (void)((count == N + 1 ? (runSectionsOf<N + 1>(sections, left, right, frames), true) : false) || ...);
}

[[gnu::always_inline]] inline void runSections(ParametricEQ::SteadySection* sections, std::size_t count,
                                               float* left, float* right, std::size_t frames) noexcept {
    runSectionsUpTo(sections, count, left, right, frames,
                    std::make_index_sequence<ParametricEQ::bandCount>{});
}

void runSectionsPortable(ParametricEQ::SteadySection* sections, std::size_t count, float* left, float* right,
                         std::size_t frames) noexcept {
    runSections(sections, count, left, right, frames);
}

#if defined(__x86_64__) || defined(__i386__)
// With fused multiply-adds each section takes five operations instead of nine.
__attribute__((target("avx2,fma"))) void runSectionsFma(ParametricEQ::SteadySection* sections,
                                                        std::size_t count, float* left, float* right,
                                                        std::size_t frames) noexcept {
    runSections(sections, count, left, right, frames);
}
#endif

} // namespace

ParametricEQ::ParametricEQ() {
    for (auto& band : bands_) {
        redesign(band);
    }
}

void ParametricEQ::prepare(double sampleRate, std::size_t maxFrames) {
    sampleRate_ = sampleRate;
    rampFrames_ = static_cast<std::size_t>(std::lround(rampSeconds * sampleRate));
    bypass_.prepare(sampleRate, maxFrames);
    runSections_ = &runSectionsPortable;
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        runSections_ = &runSectionsFma;
    }
#endif
    reset();
}

void ParametricEQ::reset() noexcept {
    for (auto& band : bands_) {
        band.frequency.reset(band.frequency.target());
        band.bandwidth.reset(band.bandwidth.target());
        band.gain.reset(band.gain.target());
        band.mix.reset(band.mix.target());
        redesign(band);
    }
    globalGain_.reset(globalGain_.target());
    bypass_.reset();
    framesUntilRedesign_ = redesignInterval;
    resetFilterState();
}

void ParametricEQ::resetFilterState() noexcept {
    for (auto& band : bands_) {
        band.leftS1 = band.leftS2 = band.rightS1 = band.rightS2 = 0.0;
    }
}

void ParametricEQ::redesign(Band& band) noexcept {
    band.coefficients = designBiquad(band.type, band.frequency.current(), band.bandwidth.current(),
                                     band.gain.current(), sampleRate_);
}

void ParametricEQ::setBandFilterType(std::size_t band, EQFilterType type) noexcept {
    if (band >= bandCount) {
        return;
    }
    // The type is chosen when the equaliser is set up; a change applies at once (there is no
    // meaningful glide between, say, a shelf and a band pass).
    bands_[band].type = type;
    redesign(bands_[band]);
}

namespace {

// A value that cannot be heard yet (unit not prepared or bypassed, band bypassed) jumps to its target;
// one that can is glided.
void setParameter(LinearSmoother& smoother, float value, bool audible, std::size_t rampFrames) noexcept {
    if (audible) {
        smoother.setTarget(value, rampFrames);
    } else {
        smoother.reset(value);
    }
}

} // namespace

void ParametricEQ::setBandFrequency(std::size_t band, float hertz) noexcept {
    if (band >= bandCount || !std::isfinite(hertz)) {
        return;
    }
    auto& b = bands_[band];
    const bool audible = bypass_.isAudible() && b.mix.current() > 0.0f;
    setParameter(b.frequency, std::clamp(hertz, 1.0f, static_cast<float>(0.495 * sampleRate_)), audible,
                 rampFrames_);
    if (!audible || (!b.frequency.isSmoothing() && !b.bandwidth.isSmoothing() && !b.gain.isSmoothing())) {
        redesign(b); // a jump rather than a glide: apply it now
    }
}

void ParametricEQ::setBandBandwidth(std::size_t band, float octaves) noexcept {
    if (band >= bandCount || !std::isfinite(octaves)) {
        return;
    }
    auto& b = bands_[band];
    const bool audible = bypass_.isAudible() && b.mix.current() > 0.0f;
    setParameter(b.bandwidth, std::clamp(octaves, 0.05f, 5.0f), audible, rampFrames_);
    if (!audible || (!b.frequency.isSmoothing() && !b.bandwidth.isSmoothing() && !b.gain.isSmoothing())) {
        redesign(b); // a jump rather than a glide: apply it now
    }
}

void ParametricEQ::setBandGain(std::size_t band, float decibels) noexcept {
    if (band >= bandCount || std::isnan(decibels)) {
        return;
    }
    auto& b = bands_[band];
    const bool audible = bypass_.isAudible() && b.mix.current() > 0.0f;
    setParameter(b.gain, std::clamp(decibels, -96.0f, 24.0f), audible, rampFrames_);
    if (!audible || (!b.frequency.isSmoothing() && !b.bandwidth.isSmoothing() && !b.gain.isSmoothing())) {
        redesign(b); // a jump rather than a glide: apply it now
    }
}

void ParametricEQ::setBandBypass(std::size_t band, bool bypass) noexcept {
    if (band >= bandCount) {
        return;
    }
    const bool audible = bypass_.isAudible();
    setParameter(bands_[band].mix, bypass ? 0.0f : 1.0f, audible, rampFrames_);
}

void ParametricEQ::setGlobalGain(float decibels) noexcept {
    if (std::isnan(decibels)) {
        return;
    }
    globalGainDb_ = std::clamp(decibels, -96.0f, 24.0f);
    const float linear =
        globalGainDb_ == 0.0f ? 1.0f : static_cast<float>(std::pow(10.0, globalGainDb_ / 20.0));
    const bool audible = bypass_.isAudible();
    setParameter(globalGain_, linear, audible, rampFrames_);
}

double ParametricEQ::magnitudeResponse(double frequency) const noexcept {
    if (bypass_.isBypassed()) {
        return 1.0;
    }
    double magnitude = globalGain_.target();
    for (const auto& band : bands_) {
        if (band.mix.target() == 0.0f) {
            continue;
        }
        const auto c = designBiquad(band.type, band.frequency.target(), band.bandwidth.target(),
                                    band.gain.target(), sampleRate_);
        magnitude *= biquadMagnitude(c, frequency, sampleRate_);
    }
    return magnitude;
}

void ParametricEQ::process(float* left, float* right, std::size_t frames) noexcept {
    bypass_.process(
        left, right, frames, [] { return false; },
        // Settle every glide so that the unit resumes from its targets with empty filters.
        [this] { reset(); }, [this](float* l, float* r, std::size_t n) { processBands(l, r, n); });
}

bool ParametricEQ::anyBandGliding() const noexcept {
    return std::any_of(bands_.begin(), bands_.end(), [](const Band& b) {
        return b.frequency.isSmoothing() || b.bandwidth.isSmoothing() || b.gain.isSmoothing();
    });
}

void ParametricEQ::processBands(float* left, float* right, std::size_t frames) noexcept {
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t n = std::min(frames - done, framesUntilRedesign_);
        const bool anyMixing =
            std::any_of(bands_.begin(), bands_.end(), [](const Band& b) { return b.mix.isSmoothing(); });
        if (anyMixing) {
            for (auto& band : bands_) {
                processBand(band, left + done, right + done, n);
            }
        } else {
            processSteadyBands(left + done, right + done, n);
        }
        if (globalGain_.isSmoothing()) {
            for (std::size_t i = done; i < done + n; ++i) {
                const float g = globalGain_.next();
                left[i] *= g;
                right[i] *= g;
            }
        } else if (const float g = globalGain_.target(); g != 1.0f) {
            for (std::size_t i = done; i < done + n; ++i) {
                left[i] *= g;
                right[i] *= g;
            }
        }
        done += n;
        framesUntilRedesign_ -= n;
        if (framesUntilRedesign_ == 0) {
            framesUntilRedesign_ = redesignInterval;
            if (anyBandGliding()) {
                for (auto& band : bands_) {
                    if (band.frequency.isSmoothing() || band.bandwidth.isSmoothing() ||
                        band.gain.isSmoothing()) {
                        band.frequency.skip(redesignInterval);
                        band.bandwidth.skip(redesignInterval);
                        band.gain.skip(redesignInterval);
                        redesign(band);
                    }
                }
            }
        }
    }
}

void ParametricEQ::processSteadyBands(float* left, float* right, std::size_t frames) noexcept {
    std::array<SteadySection, bandCount> sections;
    std::array<Band*, bandCount> owners{};
    std::size_t count = 0;
    for (auto& band : bands_) {
        if (band.mix.target() == 0.0f) {
            continue;
        }
        const BiquadCoefficients& c = band.coefficients;
        sections[count] = SteadySection{SteadySection::Pair{c.b0, c.b0},
                                        SteadySection::Pair{c.b1, c.b1},
                                        SteadySection::Pair{c.b2, c.b2},
                                        SteadySection::Pair{c.a1, c.a1},
                                        SteadySection::Pair{c.a2, c.a2},
                                        SteadySection::Pair{band.leftS1, band.rightS1},
                                        SteadySection::Pair{band.leftS2, band.rightS2}};
        owners[count++] = &band;
    }
    if (count == 0) {
        return;
    }
    runSections_(sections.data(), count, left, right, frames);
    for (std::size_t b = 0; b < count; ++b) {
        owners[b]->leftS1 = sections[b].s1[0];
        owners[b]->rightS1 = sections[b].s1[1];
        owners[b]->leftS2 = sections[b].s2[0];
        owners[b]->rightS2 = sections[b].s2[1];
    }
}

void ParametricEQ::processBand(Band& band, float* left, float* right, std::size_t frames) noexcept {
    const bool mixing = band.mix.isSmoothing();
    if (!mixing && band.mix.target() == 0.0f) {
        return;
    }
    const BiquadCoefficients c = band.coefficients;
    double l1 = band.leftS1, l2 = band.leftS2, r1 = band.rightS1, r2 = band.rightS2;
    for (std::size_t i = 0; i < frames; ++i) {
        const double xl = left[i];
        const double xr = right[i];
        const double yl = c.b0 * xl + l1;
        l1 = c.b1 * xl - c.a1 * yl + l2;
        l2 = c.b2 * xl - c.a2 * yl;
        const double yr = c.b0 * xr + r1;
        r1 = c.b1 * xr - c.a1 * yr + r2;
        r2 = c.b2 * xr - c.a2 * yr;
        if (mixing) {
            const double m = band.mix.next();
            left[i] = static_cast<float>(xl + m * (yl - xl));
            right[i] = static_cast<float>(xr + m * (yr - xr));
        } else {
            left[i] = static_cast<float>(yl);
            right[i] = static_cast<float>(yr);
        }
    }
    if (band.mix.target() == 0.0f && !band.mix.isSmoothing()) {
        l1 = l2 = r1 = r2 = 0.0; // faded out: start clean when it comes back
    }
    band.leftS1 = l1;
    band.leftS2 = l2;
    band.rightS1 = r1;
    band.rightS2 = r2;
}

} // namespace somnara::dsp
