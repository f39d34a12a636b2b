#pragma once

#include <somnara/runtime/Loop.hpp>

#include <asio/awaitable.hpp>

namespace somnara {

/// Suspends the running task until the continuous clock reaches `deadline` (at most `tolerance`
/// later). Throws `CancellationError` when the task is cancelled before or while it waits.
[[nodiscard]] asio::awaitable<void> sleepUntil(ContinuousInstant deadline, Seconds tolerance = Seconds{0});

/// Suspends the running task for `duration` on the continuous clock; see `sleepUntil`.
[[nodiscard]] asio::awaitable<void> sleep(Seconds duration, Seconds tolerance = Seconds{0});

/// A timer that ticks every `interval` on the continuous clock, the first tick one interval after its
/// creation. Ticks keep to the original grid: a late consumer gets the next tick on the grid, never a
/// burst of missed ones. Pull-based, as a timer sequence is: nothing happens between `next()` calls.
class PeriodicTimer {
public:
    PeriodicTimer(Seconds interval, Seconds tolerance = Seconds{0});

    /// Waits for the next tick and returns its instant; none once the task is cancelled.
    [[nodiscard]] asio::awaitable<std::optional<ContinuousInstant>> next();

private:
    std::chrono::nanoseconds interval_;
    Seconds tolerance_;
    ContinuousInstant nextTick_;
};

} // namespace somnara
