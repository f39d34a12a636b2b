#include "LinearRamp.hpp"

#include <somnara/runtime/Sleep.hpp>
#include <somnara/runtime/Task.hpp>

#include <cmath>
#include <utility>

namespace somnara {

asio::awaitable<bool> runLinearRamp(double duration) {
    if (duration < 0.0) {
        co_return false;
    }
    constexpr double step = 0.01;
    // One sleep for the whole ramp: the steps between its start and its end are the render side's.
    const double steps = std::floor(duration / step + 1e-9) + 1.0;
    bool cancelled = false;
    try {
        auto wait = sleep(Seconds{steps * step});
        co_await std::move(wait);
    } catch (const CancellationError&) {
        cancelled = true;
    }
    co_return !cancelled;
}

} // namespace somnara
