#pragma once

#include <somnara/runtime/Completion.hpp>
#include <somnara/runtime/Loop.hpp>

#include <asio/associated_cancellation_slot.hpp>
#include <asio/awaitable.hpp>
#include <asio/bind_cancellation_slot.hpp>
#include <asio/cancellation_signal.hpp>
#include <asio/co_spawn.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <type_traits>
#include <variant>
#include <vector>

namespace somnara {

/// Thrown by sleeps and `checkCancellation()` in a task that was cancelled.
struct CancellationError : std::runtime_error {
    CancellationError() : std::runtime_error("the task was cancelled") {}
};

/// Whether the running task has been asked to stop.
[[nodiscard]] inline asio::awaitable<bool> isCancelled() {
    auto state = co_await asio::this_coro::cancellation_state;
    co_return state.cancelled() != asio::cancellation_type::none;
}

/// Throws `CancellationError` when the running task has been asked to stop.
[[nodiscard]] inline asio::awaitable<void> checkCancellation() {
    const bool cancelled = co_await isCancelled();
    if (cancelled) {
        throw CancellationError{};
    }
}

namespace detail {

template <class T>
using StoredValue = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

template <class T>
struct TaskState {
    asio::cancellation_signal signal;
    bool finished = false;
    std::optional<StoredValue<T>> value;
    std::exception_ptr error;
    std::vector<Completion<>> waiters;

    void finish(std::exception_ptr failure) {
        finished = true;
        error = translate(failure);
        for (auto& waiter : std::exchange(waiters, {})) {
            waiter();
        }
    }

    // Asio reports an operation stopped by cancellation as operation_aborted; the library speaks
    // of cancellation.
    static std::exception_ptr translate(std::exception_ptr failure) {
        if (!failure) {
            return nullptr;
        }
        try {
            std::rethrow_exception(failure);
        } catch (const std::system_error& error) {
            if (error.code() == std::errc::operation_canceled ||
                error.code() == asio::error::operation_aborted) {
                return std::make_exception_ptr(CancellationError{});
            }
        } catch (...) {
        }
        return failure;
    }
};

} // namespace detail

/// The handle of an unstructured task running on the loop. Dropping it does not cancel the task;
/// `cancel()` asks the task to stop, and the task notices at its next sleep, stream wait or
/// cancellation check. Copies share the task. Loop only.
template <class T = void>
class Task {
public:
    Task() = default;

    bool isValid() const noexcept { return state_ != nullptr; }
    bool isFinished() const noexcept { return state_ && state_->finished; }

    /// Asks the task to stop; does nothing when it has finished.
    void cancel() const {
        if (state_ && !state_->finished) {
            state_->signal.emit(asio::cancellation_type::terminal);
        }
    }

    /// Waits for the task to end and returns its result, or rethrows what it threw; throws
    /// `std::logic_error` for a handle of no task. Waiting does not cancel the task when the waiter is
    /// cancelled. The wait holds the task itself, not this handle, which may go first.
    [[nodiscard]] asio::awaitable<T> value() const { return waitFor(state_, {}); }
    /// `value()`, calling `onWaiterCancelled` when the waiter is cancelled (to pass the cancellation
    /// on); the waiter then goes on waiting.
    [[nodiscard]] asio::awaitable<T> value(std::function<void()> onWaiterCancelled) const {
        return waitFor(state_, std::move(onWaiterCancelled));
    }

private:
    template <class F>
    friend auto spawn(F&& makeAwaitable);

    explicit Task(std::shared_ptr<detail::TaskState<T>> state) : state_(std::move(state)) {}

    static asio::awaitable<T> waitFor(std::shared_ptr<detail::TaskState<T>> state,
                                      std::function<void()> onWaiterCancelled) {
        if (!state) {
            throw std::logic_error("waited for the value of no task");
        }
        if (!state->finished) {
            // Named, not a temporary of the co_await expression: g++ 12 destroys such temporaries twice.
            auto waitForEnd = [&state, &onWaiterCancelled](auto handler) {
                auto slot = asio::get_associated_cancellation_slot(handler);
                if (onWaiterCancelled && slot.is_connected()) {
                    slot.assign([onCancelled = std::move(onWaiterCancelled)](asio::cancellation_type) {
                        onCancelled();
                    });
                }
                state->waiters.push_back(detail::Completion<>::from(std::move(handler)));
            };
            co_await asio::async_initiate<const asio::use_awaitable_t<>, void()>(waitForEnd,
                                                                                 asio::use_awaitable);
        }
        if (state->error) {
            std::rethrow_exception(state->error);
        }
        if constexpr (!std::is_void_v<T>) {
            co_return *state->value;
        }
    }

    std::shared_ptr<detail::TaskState<T>> state_;
};

/// Starts `makeAwaitable()` as a new task on the current loop; the callable is kept alive until the
/// task ends, so its captures are safe to use throughout. Cancellation is cooperative: waits end
/// early and `isCancelled()` turns true; nothing is thrown into the task at an arbitrary point.
template <class F>
auto spawn(F&& makeAwaitable) {
    using Awaitable = std::invoke_result_t<std::decay_t<F>&>;
    using T = typename Awaitable::value_type;
    auto state = std::make_shared<detail::TaskState<T>>();
    auto body = [function = std::forward<F>(makeAwaitable)]() mutable -> asio::awaitable<T> {
        co_await asio::this_coro::throw_if_cancelled(false);
        co_return co_await function();
    };
    if constexpr (std::is_void_v<T>) {
        asio::co_spawn(Loop::current().executor(), std::move(body),
                       asio::bind_cancellation_slot(state->signal.slot(), [state](std::exception_ptr error) {
                           state->finish(error);
                       }));
    } else {
        asio::co_spawn(
            Loop::current().executor(), std::move(body),
            asio::bind_cancellation_slot(state->signal.slot(), [state](std::exception_ptr error, T value) {
                if (!error) {
                    state->value.emplace(std::move(value));
                }
                state->finish(error);
            }));
    }
    return Task<T>{std::move(state)};
}

} // namespace somnara
