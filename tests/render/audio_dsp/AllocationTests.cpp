// Counts heap allocations made while the units render: every global operator new and, outside
// AddressSanitizer builds (which own malloc), every malloc/calloc/realloc, so that the C libraries behind
// the pull units are watched too. Counting is switched on only around the render calls.

#include "DspRenderSupport.hpp"
#include "audio/dsp/Delay.hpp"
#include "audio/dsp/ParametricEQ.hpp"
#include "audio/dsp/Reverb.hpp"
#include "audio/dsp/TimePitch.hpp"
#include "audio/dsp/Varispeed.hpp"

#include <gtest/gtest.h>
#include <support/SignalMeasurements.hpp>

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SOMNARA_COUNT_MALLOC 0
#else
#define SOMNARA_COUNT_MALLOC 1
#endif

namespace {
std::atomic<bool> counting{false};
std::atomic<std::size_t> allocations{0};

void* allocate(std::size_t n) {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void* allocateAligned(std::size_t n, std::align_val_t alignment) {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    const auto a = static_cast<std::size_t>(alignment);
    void* p = std::aligned_alloc(a, (n + a - 1) / a * a);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
} // namespace

void* operator new(std::size_t n) {
    return allocate(n);
}
void* operator new[](std::size_t n) {
    return allocate(n);
}
void* operator new(std::size_t n, std::align_val_t a) {
    return allocateAligned(n, a);
}
void* operator new[](std::size_t n, std::align_val_t a) {
    return allocateAligned(n, a);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

#if SOMNARA_COUNT_MALLOC
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t n) {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    return __libc_realloc(p, n);
}
}
#endif

namespace somnara::dsp::test {
namespace {

constexpr double rate = 48000.0;
constexpr std::size_t block = 512;

/// Runs `body` with allocation counting on and returns how many allocations happened.
template <class F>
std::size_t allocationsDuring(F&& body) {
    allocations.store(0);
    counting.store(true);
    body();
    counting.store(false);
    return allocations.load();
}

TEST(RenderAllocation, TheCounterSeesAnAllocation) {
    // Guards the guard: a counter that saw nothing would pass every test below.
    const auto n = allocationsDuring([] {
        auto* p = new std::vector<float>(1000);
        delete p;
#if SOMNARA_COUNT_MALLOC
        std::free(std::malloc(64));
#endif
    });
    EXPECT_GE(n, SOMNARA_COUNT_MALLOC ? 3u : 2u);
}

TEST(RenderAllocation, InPlaceUnitsDoNotAllocateWhileProcessingOrChangingParameters) {
    Stereo buffer(somnara::test::makeNoise(block), somnara::test::makeNoise(block, 0.5, 2));
    ParametricEQ eq;
    Delay delay;
    Reverb reverb;
    eq.prepare(rate, block);
    delay.prepare(rate, block);
    reverb.prepare(rate, block);
    reverb.loadFactoryPreset(ReverbPreset::largeHall);
    const auto n = allocationsDuring([&] {
        for (int i = 0; i < 400; ++i) {
            switch (i % 100) {
            case 10:
                eq.setBandBypass(2, false);
                eq.setBandGain(2, static_cast<float>(i % 24));
                eq.setBandFrequency(2, 100.0f + static_cast<float>(i));
                delay.setDelayTime(0.1f + 0.001f * static_cast<float>(i));
                delay.setFeedback(60.0f);
                delay.setLowPassCutoff(2000.0f);
                reverb.setWetDryMix(40.0f);
                break;
            case 50:
                eq.setBypass(true);
                delay.setBypass(true);
                reverb.setBypass(true);
                break;
            case 70:
                eq.setBypass(false);
                delay.setBypass(false);
                reverb.setBypass(false);
                reverb.loadFactoryPreset(ReverbPreset::cathedral);
                eq.setGlobalGain(-3.0f);
                break;
            default:
                break;
            }
            eq.process(buffer.left.data(), buffer.right.data(), block);
            delay.process(buffer.left.data(), buffer.right.data(), block);
            reverb.process(buffer.left.data(), buffer.right.data(), block);
            eq.reset();
        }
        delay.reset();
        reverb.reset();
    });
    EXPECT_EQ(n, 0u);
}

TEST(RenderAllocation, PullUnitsDoNotAllocateWhileRenderingChangingPitchOrRateOrSwitchingBypass) {
    Stereo buffer(block);
    SineSource source(330.0, rate);
    TimePitch pitch;
    Varispeed speed;
    pitch.prepare(rate, block);
    speed.prepare(rate, block);
    pitch.setPitch(-500.0f);
    speed.setRate(1.5f);
    const auto n = allocationsDuring([&] {
        for (int i = 0; i < 400; ++i) {
            if (i % 100 == 10) {
                pitch.setPitch(i % 200 == 10 ? 2400.0f : -1700.0f);
            } else if (i % 100 == 30) {
                speed.setRate(i % 200 == 30 ? 0.5f : 3.0f);
                pitch.setBypass(true);
                speed.setBypass(true);
            } else if (i % 100 == 60) {
                pitch.setBypass(false);
                speed.setBypass(false);
            }
            pitch.render(buffer.left.data(), buffer.right.data(), block, source);
            speed.render(buffer.left.data(), buffer.right.data(), block, source);
        }
        speed.reset();
        pitch.reset();
    });
    EXPECT_EQ(n, 0u);
}

} // namespace
} // namespace somnara::dsp::test
