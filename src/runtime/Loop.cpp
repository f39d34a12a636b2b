#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/NotificationCenter.hpp>

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace somnara {

namespace {
Loop* currentLoop = nullptr;
} // namespace

Loop::Loop()
    : context_(std::make_unique<asio::io_context>(1)),
      notificationCenter_(std::make_unique<NotificationCenter>()), previous_(currentLoop) {
    currentLoop = this;
}

Loop::~Loop() {
    assert(isLoopThread());
    // Pending work may still refer to the loop while it is destroyed (a stream given up on posts its
    // clean-up), so the loop stays current until its handlers are gone.
    // Destroying a timer's work may destroy a coroutine that cancels another sleep, which cancels its
    // timer here: each timer leaves the map before its work is destroyed, so the map stays whole.
    while (!timers_.empty()) {
        [[maybe_unused]] const auto timer = timers_.extract(timers_.begin());
    }
    while (!parked_.empty()) {
        auto* handler = parked_.begin()->second;
        parked_.erase(parked_.begin());
        handler->abandon();
    }
    // Handlers destroyed with the context may still stop observing notifications, so the centre goes
    // last. The context leaves its place under the lock, so another thread's post sees it or nothing.
    std::unique_ptr<asio::io_context> context;
    {
        const std::lock_guard lock(contextMutex_);
        context = std::move(context_);
    }
    context.reset();
    notificationCenter_.reset();
    currentLoop = previous_;
}

Loop& Loop::current() {
    if (currentLoop == nullptr) {
        std::fputs("somnara: no event loop exists; create one before any library object\n", stderr);
        std::abort();
    }
    return *currentLoop;
}

bool Loop::hasCurrent() noexcept {
    return currentLoop != nullptr;
}

void Loop::post(UniqueFunction<void()> work) {
    const std::lock_guard lock(contextMutex_);
    if (!context_) {
        return; // the loop is being destroyed: work posted by what it destroys is dropped
    }
    asio::post(*context_, [work = std::move(work)]() mutable { work(); });
}

Loop::TimerId Loop::addTimer(ContinuousInstant due, Seconds tolerance, UniqueFunction<void()> fire) {
    assert(isLoopThread());
    const TimerId id{due, nextTimerSequence_++};
    const auto deadline = due + std::chrono::duration_cast<std::chrono::nanoseconds>(tolerance);
    timers_.emplace(TimerKey{id.due, id.sequence}, Timer{deadline, std::move(fire)});
    timersChanged();
    return id;
}

void Loop::cancelTimer(TimerId id) {
    assert(isLoopThread());
    if (timers_.erase(TimerKey{id.due, id.sequence}) > 0) {
        timersChanged();
    }
}

std::uint64_t Loop::park(ParkedHandler& handler) {
    assert(isLoopThread());
    const auto id = nextParkId_++;
    parked_.emplace(id, &handler);
    return id;
}

void Loop::unpark(std::uint64_t id) noexcept {
    parked_.erase(id);
}

bool Loop::fireEarliestTimerDueBy(ContinuousInstant instant) {
    assert(isLoopThread());
    if (timers_.empty() || timers_.begin()->first.first > instant) {
        return false;
    }
    auto fire = std::move(timers_.begin()->second.fire);
    timers_.erase(timers_.begin());
    fire();
    return true;
}

void Loop::fireTimersDueBy(ContinuousInstant instant) {
    while (fireEarliestTimerDueBy(instant)) {
    }
    timersChanged();
}

std::optional<ContinuousInstant> Loop::earliestDue() const {
    if (timers_.empty()) {
        return std::nullopt;
    }
    return timers_.begin()->first.first;
}

std::optional<ContinuousInstant> Loop::earliestDeadline() const {
    std::optional<ContinuousInstant> earliest;
    for (const auto& [key, timer] : timers_) {
        if (earliest && key.first > *earliest) {
            break; // later timers are due after this deadline, so theirs is later still
        }
        if (!earliest || timer.deadline < *earliest) {
            earliest = timer.deadline;
        }
    }
    return earliest;
}

// MARK: - RealLoop

RealLoop::RealLoop() : wakeUp_(context()) {}

RealLoop::~RealLoop() {
    wakeUp_.cancel();
}

Date RealLoop::now() const {
    return Date::fromSystemClock(std::chrono::system_clock::now());
}

ContinuousInstant RealLoop::continuousNow() const {
    // CLOCK_BOOTTIME goes on counting while the machine sleeps; steady_clock (CLOCK_MONOTONIC) stops, so
    // a sleep timer on it would end the length of the suspend late.
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return ContinuousInstant{std::chrono::duration_cast<ContinuousInstant::duration>(
        std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec))};
}

void RealLoop::run() {
    becomeLoopThread();
    auto work = asio::make_work_guard(context());
    context().restart();
    context().run();
}

void RealLoop::stop() {
    context().stop();
}

void RealLoop::timersChanged() {
    armWakeUp();
}

void RealLoop::armWakeUp() {
    const auto deadline = earliestDeadline();
    if (deadline == armedFor_) {
        return;
    }
    armedFor_ = deadline;
    if (!deadline) {
        wakeUp_.cancel();
        return;
    }
    // The wake-up waits on CLOCK_MONOTONIC, which stands still during a suspend: armed as a delay, it
    // fires at most that delay after the resume, where the continuous clock shows what fell due.
    wakeUp_.expires_after(*deadline - continuousNow());
    wakeUp_.async_wait([this](std::error_code error) {
        if (error) {
            return; // re-armed or cancelled
        }
        armedFor_.reset();
        fireTimersDueBy(continuousNow());
    });
}

// MARK: - VirtualLoop

VirtualLoop::VirtualLoop(Date date)
    : now_(ContinuousInstant{} + std::chrono::hours(24)),
      wallOffset_(date.timeIntervalSinceReferenceDate - Seconds(now_.time_since_epoch()).count()) {}

Date VirtualLoop::now() const {
    return Date{Seconds(now_.time_since_epoch()).count() + wallOffset_};
}

void VirtualLoop::runUntilIdle() {
    for (;;) {
        context().restart();
        const auto handled = context().poll();
        if (handled == 0 && !fireEarliestTimerDueBy(now_)) {
            return;
        }
    }
}

void VirtualLoop::advance(Seconds duration) {
    const auto target = now_ + std::chrono::duration_cast<std::chrono::nanoseconds>(duration);
    runUntilIdle();
    while (auto due = earliestDue()) {
        if (*due > target) {
            break;
        }
        now_ = std::max(now_, *due);
        runUntilIdle();
    }
    now_ = target;
    runUntilIdle();
}

void VirtualLoop::suspend(Seconds duration) {
    runUntilIdle();
    now_ += std::chrono::duration_cast<std::chrono::nanoseconds>(duration);
    runUntilIdle();
}

bool VirtualLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds realTimeout) {
    auto work = asio::make_work_guard(context());
    const auto giveUpAt = std::chrono::steady_clock::now() + realTimeout;
    runUntilIdle();
    while (!done()) {
        const auto left = giveUpAt - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            return false;
        }
        context().restart();
        context().run_one_for(
            std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(10)));
        runUntilIdle();
    }
    return true;
}

} // namespace somnara
