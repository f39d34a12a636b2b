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
// CLOCK_MONOTONIC would end a whole night's suspend late. (Once the machine has slept, the monotonic
// clock lags the boot-time clock by the time slept, and falls outside the bracket.)
TEST(ContinuousClock, IsTheBootTimeClock) {
    RealLoop loop;
    const auto before = read(CLOCK_BOOTTIME);
    const auto continuous = loop.continuousNow().time_since_epoch();
    const auto after = read(CLOCK_BOOTTIME);
    EXPECT_LE(before, continuous);
    EXPECT_LE(continuous, after);
}

} // namespace
} // namespace somnara
