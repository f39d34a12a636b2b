#include "LinearRamp.hpp"

#include <somnara/runtime/Date.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/Sleep.hpp>
#include <somnara/runtime/Task.hpp>

#include <algorithm>

namespace somnara {

asio::awaitable<bool> runLinearRamp(double duration, std::function<void(float progress)> step) {
    auto& loop = Loop::current();
    const Date startTime = loop.now();
    const Date endTime = startTime.addingTimeInterval(duration);
    bool cancelled = false;
    int steps = 0;
    for (;;) {
        cancelled = co_await isCancelled();
        const Date now = loop.now();
        if (cancelled || now > endTime) {
            break;
        }
        const double elapsed = now.timeIntervalSince(startTime);
        step(duration > 0.0 ? static_cast<float>(std::min(elapsed / duration, 1.0)) : 1.0F);
        ++steps;
        try {
            co_await sleep(Seconds{0.01});
        } catch (const CancellationError&) {
            // Back to the loop test, which sees the cancellation.
        }
    }
    co_return !cancelled && steps > 0;
}

} // namespace somnara
