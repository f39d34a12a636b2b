#include <somnara/runtime/Loop.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

namespace somnara {
namespace {

std::chrono::nanoseconds read(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// The real loop's continuous clock must be the one that counts through suspend: a sleep timer on
// CLOCK_MONOTONIC would end a whole night's suspend late.
TEST(ContinuousClock, IsTheBootTimeClock) {
    RealLoop loop;
    const auto before = read(CLOCK_BOOTTIME);
    const auto continuous = loop.continuousNow().time_since_epoch();
    const auto after = read(CLOCK_BOOTTIME);
    EXPECT_LE(before, continuous);
    EXPECT_LE(continuous, after);
    // Once the machine has slept, the monotonic clock lags behind by the time slept.
    const auto slept = read(CLOCK_BOOTTIME) - read(CLOCK_MONOTONIC);
    if (slept > std::chrono::milliseconds(10)) {
        EXPECT_GT(continuous - read(CLOCK_MONOTONIC), slept / 2);
    } else {
        GTEST_LOG_(INFO) << "this machine has not slept since boot: the clocks agree to " << slept.count()
                         << " ns";
    }
}

} // namespace
} // namespace somnara
