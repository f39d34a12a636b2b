#pragma once

#include <array>
#include <atomic>
#include <cassert>
#include <cstddef>
#include <optional>
#include <type_traits>

namespace somnara::rt {

/// A bounded single-producer, single-consumer queue of trivially copyable values. Neither side locks
/// or allocates, so the render thread can be either end.
///
/// Threads: exactly one producer thread calls `push`, exactly one consumer thread calls `pop`. The
/// producer publishes a slot with a release store of `tail_`, which the consumer reads with acquire
/// (and the other way round for `head_`), so a popped value is always completely written. A role may
/// pass to another thread (the loop consumes commands while no render thread runs), never be held by
/// two at once: debug builds assert that.
template <class T, std::size_t Capacity>
class SpscQueue {
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert((Capacity & (Capacity - 1)) == 0, "capacity must be a power of two");

public:
    /// False when the queue is full; the value is then not queued.
    bool push(const T& value) noexcept {
        [[maybe_unused]] const RoleGuard producer(producing_);
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == Capacity) {
            return false;
        }
        slots_[tail & (Capacity - 1)] = value;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    std::optional<T> pop() noexcept {
        [[maybe_unused]] const RoleGuard consumer(consuming_);
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) {
            return std::nullopt;
        }
        T value = slots_[head & (Capacity - 1)];
        head_.store(head + 1, std::memory_order_release);
        return value;
    }

    static constexpr std::size_t capacity = Capacity;

    /// Values queued now. The other side may change it meanwhile: the producer sees an upper bound,
    /// so the room it computes is always there.
    std::size_t size() const noexcept {
        return tail_.load(std::memory_order_acquire) - head_.load(std::memory_order_acquire);
    }

    bool empty() const noexcept {
        return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire);
    }

private:
#ifdef NDEBUG
    struct RoleFlag {};
    struct RoleGuard {
        explicit RoleGuard(RoleFlag&) noexcept {}
    };
#else
    using RoleFlag = std::atomic<bool>;
    /// Holds a role for one call; a second thread taking it meanwhile is the bug this catches.
    class RoleGuard {
    public:
        explicit RoleGuard(RoleFlag& held) noexcept : held_(held) {
            [[maybe_unused]] const bool taken = held_.exchange(true, std::memory_order_acquire);
            assert(!taken && "two threads use one end of a single-producer, single-consumer queue");
        }
        ~RoleGuard() { held_.store(false, std::memory_order_release); }
        RoleGuard(const RoleGuard&) = delete;
        RoleGuard& operator=(const RoleGuard&) = delete;

    private:
        RoleFlag& held_;
    };
#endif

    [[no_unique_address]] RoleFlag producing_;
    [[no_unique_address]] RoleFlag consuming_;
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
    std::array<T, Capacity> slots_{};
};

} // namespace somnara::rt
