#include <somnara/runtime/Sleep.hpp>
#include <somnara/runtime/Task.hpp>

#include <asio/associated_cancellation_slot.hpp>
#include <asio/use_awaitable.hpp>

namespace somnara {

namespace {

struct PendingSleep {
    detail::Completion<bool> completion; // true when the deadline was reached
    Loop::TimerId timer;
};

} // namespace

asio::awaitable<void> sleepUntil(ContinuousInstant deadline, Seconds tolerance) {
    co_await checkCancellation();
    // Named, not a temporary of the co_await expression: g++ 12 destroys such temporaries twice.
    auto startTimer = [deadline, tolerance](auto handler) {
        auto& loop = Loop::current();
        auto pending = std::make_shared<PendingSleep>();
        auto slot = asio::get_associated_cancellation_slot(handler);
        pending->completion = detail::Completion<bool>::from(std::move(handler));
        pending->timer = loop.addTimer(deadline, tolerance, [pending] { pending->completion(true); });
        if (slot.is_connected()) {
            slot.assign([weak = std::weak_ptr<PendingSleep>(pending), &loop](asio::cancellation_type) {
                if (auto pending = weak.lock()) {
                    loop.cancelTimer(pending->timer);
                    pending->completion(false);
                }
            });
        }
    };
    const bool reached = co_await asio::async_initiate<const asio::use_awaitable_t<>, void(bool)>(
        startTimer, asio::use_awaitable);
    if (!reached) {
        throw CancellationError{};
    }
}

asio::awaitable<void> sleep(Seconds duration, Seconds tolerance) {
    co_await sleepUntil(Loop::current().continuousNow() +
                            std::chrono::duration_cast<std::chrono::nanoseconds>(duration),
                        tolerance);
}

PeriodicTimer::PeriodicTimer(Seconds interval, Seconds tolerance)
    : interval_(std::chrono::duration_cast<std::chrono::nanoseconds>(interval)), tolerance_(tolerance),
      nextTick_(Loop::current().continuousNow() + interval_) {}

asio::awaitable<std::optional<ContinuousInstant>> PeriodicTimer::next() {
    const auto now = Loop::current().continuousNow();
    if (nextTick_ < now) {
        // Missed ticks are skipped, not delivered in a burst.
        nextTick_ += interval_ * ((now - nextTick_) / interval_ + 1);
    }
    try {
        co_await sleepUntil(nextTick_, tolerance_);
    } catch (const CancellationError&) {
        co_return std::nullopt;
    }
    const auto tick = nextTick_;
    nextTick_ += interval_;
    co_return tick;
}

} // namespace somnara
