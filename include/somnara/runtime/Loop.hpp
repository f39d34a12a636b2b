#pragma once

#include <somnara/runtime/Date.hpp>
#include <somnara/runtime/UniqueFunction.hpp>

#include <asio/any_io_executor.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace somnara {

class NotificationCenter;

/// A point on the continuous clock (the clock that keeps counting while the machine sleeps:
/// CLOCK_BOOTTIME for the real loop). Only the type of steady_clock is borrowed, not its source.
using ContinuousInstant = std::chrono::steady_clock::time_point;
/// Durations in seconds, as the library's time intervals are.
using Seconds = std::chrono::duration<double>;

/// The event loop every library object lives on: one thread runs it, so each object's state is
/// serialised for free and a `co_await` is the only place where other work may interleave.
///
/// It owns the clock: every clock read and every timer of the library goes through it, so that the
/// virtual loop of the tests can run a sixty-second timer in microseconds. One loop is current per
/// process (the last one created); objects find it with `Loop::current()`.
///
/// Threads: everything here is loop only (asserted in debug builds), except `post`, which any thread
/// may call until the loop's destructor has begun.
class Loop {
public:
    struct TimerId {
        ContinuousInstant due;
        std::uint64_t sequence = 0;
    };

    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;
    virtual ~Loop();

    /// The current loop; a broken expectation (and a crash) when none exists.
    static Loop& current();
    static bool hasCurrent() noexcept;

    asio::io_context& context() noexcept { return *context_; }
    asio::any_io_executor executor() noexcept { return context_->get_executor(); }

    /// Runs `work` on the loop soon. Safe from any thread; work posted once the loop is being destroyed
    /// is dropped.
    void post(UniqueFunction<void()> work);

    /// Whether the calling thread is the loop's: the one that created it, or the one running it.
    bool isLoopThread() const noexcept { return std::this_thread::get_id() == loopThread_; }

    /// The wall clock.
    virtual Date now() const = 0;
    /// The continuous clock.
    virtual ContinuousInstant continuousNow() const = 0;

    NotificationCenter& notificationCenter() noexcept { return *notificationCenter_; }

    /// Calls `fire` on the loop once the continuous clock reaches `due`. The real loop may fire up to
    /// `tolerance` late so that nearby timers share one wake-up; the virtual loop fires exactly at
    /// `due`. Timers due at the same instant fire in the order they were added.
    TimerId addTimer(ContinuousInstant due, Seconds tolerance, UniqueFunction<void()> fire);
    /// Forgets a timer that has not fired yet; does nothing for one that has.
    void cancelTimer(TimerId id);

    /// A suspended coroutine's resumption kept outside the Asio queue (a stream or task waiter). The
    /// loop abandons what is still parked when it is destroyed, which destroys the waiting
    /// coroutines; without that, a task waiting forever on a live stream would keep itself alive.
    struct ParkedHandler {
        virtual void abandon() noexcept = 0;

    protected:
        ~ParkedHandler() = default;
    };
    std::uint64_t park(ParkedHandler& handler);
    void unpark(std::uint64_t id) noexcept;

protected:
    Loop();

    /// Fires, in order, every timer due at or before `instant`.
    void fireTimersDueBy(ContinuousInstant instant);
    /// Fires the single earliest timer if it is due at or before `instant`; false when none is.
    bool fireEarliestTimerDueBy(ContinuousInstant instant);
    std::optional<ContinuousInstant> earliestDue() const;
    /// The earliest moment by which some timer must fire, given the tolerances.
    std::optional<ContinuousInstant> earliestDeadline() const;
    virtual void timersChanged() {}
    /// Makes the calling thread the loop's (a loop run by another thread than the one that made it).
    void becomeLoopThread() noexcept { loopThread_ = std::this_thread::get_id(); }

private:
    struct Timer {
        ContinuousInstant deadline;
        UniqueFunction<void()> fire;
    };
    using TimerKey = std::pair<ContinuousInstant, std::uint64_t>;

    // Loop only, except that `post` reads `context_` under `contextMutex_`, which the destructor holds
    // while it takes the context away.
    mutable std::mutex contextMutex_;
    std::unique_ptr<asio::io_context> context_;
    std::thread::id loopThread_ = std::this_thread::get_id();
    std::unique_ptr<NotificationCenter> notificationCenter_;
    std::map<TimerKey, Timer> timers_;
    std::uint64_t nextTimerSequence_ = 0;
    std::map<std::uint64_t, ParkedHandler*> parked_;
    std::uint64_t nextParkId_ = 0;
    Loop* previous_ = nullptr;
};

/// The loop of the app and the daemon: real clocks, run on the calling thread until stopped.
class RealLoop final : public Loop {
public:
    RealLoop();
    ~RealLoop() override;

    Date now() const override;
    ContinuousInstant continuousNow() const override;

    /// Runs until `stop()`.
    void run();
    /// Makes `run()` return once the handlers running now have finished. Safe from any thread.
    void stop();

private:
    void timersChanged() override;
    void armWakeUp();

    asio::steady_timer wakeUp_;
    std::optional<ContinuousInstant> armedFor_;
};

/// The loop of the tests: time stands still until the test advances it.
class VirtualLoop final : public Loop {
public:
    /// Starts at `date` on the wall clock (by default 1 January 2026, 00:00 UTC).
    explicit VirtualLoop(Date date = Date::fromTimeIntervalSince1970(1'767'225'600.0));

    Date now() const override;
    ContinuousInstant continuousNow() const override { return now_; }

    /// Runs every handler that is ready, and what they cause, until nothing is ready. Time does
    /// not move.
    void runUntilIdle();
    /// Moves time forward by `duration`: every timer that falls due fires in order, at its own
    /// instant, and what it causes runs before the next one fires.
    void advance(Seconds duration);
    /// The machine sleeps for `duration`: both clocks jump ahead at once and what fell due meanwhile
    /// fires late, at the moment of the resume, as it does after a real suspend.
    void suspend(Seconds duration);
    /// Runs ready handlers, waiting up to `realTimeout` of real time for work posted by other threads
    /// (decoders, transfers), until `done` holds; returns whether it does. Time does not move.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds realTimeout);

private:
    ContinuousInstant now_;
    double wallOffset_;
};

} // namespace somnara
