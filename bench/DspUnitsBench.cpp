// Cost of each render-side unit on its own: 512-frame blocks of stereo noise at 44.1 kHz, with the
// settings the player uses when the effect is on. The items-per-second counter is frames per second;
// divide by 44 100 for "times faster than real time".

#include "audio/dsp/AudioSource.hpp"
#include "audio/dsp/Delay.hpp"
#include "audio/dsp/ParametricEQ.hpp"
#include "audio/dsp/Reverb.hpp"
#include "audio/dsp/TimePitch.hpp"
#include "audio/dsp/Varispeed.hpp"

#include <benchmark/benchmark.h>

#include <vector>

namespace somnara::dsp {
namespace {

constexpr double rate = 44'100;
constexpr std::size_t block = 512;

struct Noise {
    std::vector<float> left = std::vector<float>(block), right = std::vector<float>(block);
    Noise() {
        unsigned s = 1;
        for (std::size_t i = 0; i < block; ++i) {
            s = s * 1'664'525u + 1'013'904'223u;
            left[i] = static_cast<float>(s >> 8) / 16'777'216.0f - 0.5f;
            right[i] = -left[i];
        }
    }
};

// Upstream for the pull units: a fixed block of noise, so the measurement is the unit's alone.
struct BlockSource final : AudioSource {
    Noise noise;
    void pull(float* left, float* right, std::size_t frames) noexcept override {
        for (std::size_t i = 0; i < frames; ++i) {
            left[i] = noise.left[i % block];
            right[i] = noise.right[i % block];
        }
    }
};

template <class Unit>
void runInPlace(benchmark::State& state, Unit& unit) {
    Noise buffer;
    for (auto _ : state) {
        unit.process(buffer.left.data(), buffer.right.data(), block);
        benchmark::DoNotOptimize(buffer.left.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(block));
}

template <class Unit>
void runPull(benchmark::State& state, Unit& unit) {
    Noise out;
    BlockSource source;
    for (auto _ : state) {
        unit.render(out.left.data(), out.right.data(), block, source);
        benchmark::DoNotOptimize(out.left.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<long>(block));
}

void equaliser(benchmark::State& state) {
    ParametricEQ eq;
    eq.prepare(rate, block);
    const auto active = static_cast<std::size_t>(state.range(0));
    for (std::size_t i = 0; i < active; ++i) {
        eq.setBandFrequency(i, 20.0f + static_cast<float>(i) * 2'203.0f);
        eq.setBandBandwidth(i, 0.1f);
        eq.setBandGain(i, 6.0f);
        eq.setBandBypass(i, false);
    }
    runInPlace(state, eq);
}
BENCHMARK(equaliser)->Arg(1)->Arg(3)->Arg(10);

void delay(benchmark::State& state) {
    Delay unit;
    unit.prepare(rate, block);
    unit.setDelayTime(0.5f);
    unit.setFeedback(30.0f);
    unit.setWetDryMix(20.0f);
    runInPlace(state, unit);
}
BENCHMARK(delay);

void reverb(benchmark::State& state) {
    Reverb unit;
    unit.prepare(rate, block);
    unit.loadFactoryPreset(ReverbPreset::largeHall);
    unit.setWetDryMix(static_cast<float>(state.range(0)));
    runInPlace(state, unit);
}
BENCHMARK(reverb)->Arg(0)->Arg(30);

void timePitch(benchmark::State& state) {
    TimePitch unit;
    unit.prepare(rate, block);
    unit.setPitch(static_cast<float>(state.range(0)));
    runPull(state, unit);
}
BENCHMARK(timePitch)->Arg(-500)->Arg(200);

void varispeed(benchmark::State& state) {
    Varispeed unit;
    unit.prepare(rate, block);
    unit.setRate(static_cast<float>(state.range(0)) / 100.0f);
    runPull(state, unit);
}
BENCHMARK(varispeed)->Arg(50)->Arg(200);

} // namespace
} // namespace somnara::dsp

BENCHMARK_MAIN();
