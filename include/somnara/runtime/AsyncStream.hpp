#pragma once

#include <somnara/runtime/Completion.hpp>
#include <somnara/runtime/Task.hpp>

#include <asio/associated_cancellation_slot.hpp>
#include <asio/awaitable.hpp>
#include <asio/use_awaitable.hpp>

#include <deque>
#include <memory>
#include <optional>
#include <utility>

namespace somnara {

/// How a stream ended: its producer finished it, or its consumer gave it up (cancelled, or destroyed
/// the stream before its end).
enum class StreamTermination { finished, cancelled };

/// An asynchronous sequence with a producer end (`Continuation`) and one consumer.
///
/// - The buffer is unbounded: every value yielded is delivered in order, however slow the consumer.
/// - Yielding into a stream that has ended does nothing.
/// - Finishing lets the consumer drain what is queued, then `next()` returns none.
/// - The termination handler runs exactly once: at `finish()`, when the consumer's task is cancelled
///   while it waits (or calls `next()` after cancellation), or when the stream is destroyed first.
///
/// Loop only.
template <class T>
class AsyncStream {
    struct State;

public:
    class Continuation {
    public:
        Continuation() = default;

        /// Queues `value` for the consumer; does nothing once the stream has ended.
        void yield(T value) const {
            if (!state_ || state_->ended()) {
                return;
            }
            if (state_->waiter) {
                state_->waiter(std::optional<T>{std::move(value)});
            } else {
                state_->buffer.push_back(std::move(value));
            }
        }

        /// Ends the stream after what is queued.
        void finish() const {
            if (!state_ || state_->ended()) {
                return;
            }
            state_->finished = true;
            if (state_->waiter) {
                state_->waiter(std::nullopt);
            }
            state_->terminate(StreamTermination::finished);
        }

        /// Installs the handler called once when the stream ends; one that has ended calls it at once.
        void onTermination(UniqueFunction<void(StreamTermination)> handler) const {
            if (state_->terminated) {
                handler(state_->termination);
            } else {
                state_->onTermination = std::move(handler);
            }
        }

        bool isTerminated() const noexcept { return !state_ || state_->terminated; }

    private:
        friend class AsyncStream;
        explicit Continuation(std::shared_ptr<State> state) : state_(std::move(state)) {}

        std::shared_ptr<State> state_;
    };

    /// A new stream and its producer end.
    static std::pair<AsyncStream, Continuation> make() {
        auto state = std::make_shared<State>();
        return {AsyncStream{state}, Continuation{state}};
    }

    AsyncStream(AsyncStream&& other) noexcept = default;
    AsyncStream& operator=(AsyncStream&& other) noexcept {
        if (this != &other) {
            giveUp();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    ~AsyncStream() { giveUp(); }

    /// The next value, or none when the stream has ended or the task is cancelled.
    [[nodiscard]] asio::awaitable<std::optional<T>> next() {
        auto state = state_;
        const bool cancelled = co_await isCancelled();
        if (cancelled) {
            state->cancel();
            co_return std::nullopt;
        }
        if (!state->buffer.empty()) {
            std::optional<T> value{std::move(state->buffer.front())};
            state->buffer.pop_front();
            co_return value;
        }
        if (state->ended()) {
            co_return std::nullopt;
        }
        // Named, not a temporary of the co_await expression: g++ 12 destroys such temporaries twice.
        auto waitForValue = [state](auto handler) {
            auto slot = asio::get_associated_cancellation_slot(handler);
            if (slot.is_connected()) {
                slot.assign([weak = std::weak_ptr<State>(state)](asio::cancellation_type) {
                    if (auto state = weak.lock()) {
                        state->cancel();
                    }
                });
            }
            state->waiter = detail::Completion<std::optional<T>>::from(std::move(handler));
        };
        auto value = co_await asio::async_initiate<const asio::use_awaitable_t<>, void(std::optional<T>)>(
            waitForValue, asio::use_awaitable);
        co_return value;
    }

private:
    struct State {
        std::deque<T> buffer;
        detail::Completion<std::optional<T>> waiter;
        UniqueFunction<void(StreamTermination)> onTermination;
        bool finished = false;
        bool terminated = false;
        StreamTermination termination = StreamTermination::finished;

        bool ended() const noexcept { return finished || terminated; }

        void terminate(StreamTermination reason) {
            if (terminated) {
                return;
            }
            terminated = true;
            termination = reason;
            if (auto handler = std::move(onTermination)) {
                handler(reason);
            }
        }

        void cancel() {
            buffer.clear();
            if (waiter) {
                waiter(std::nullopt);
            }
            terminate(StreamTermination::cancelled);
        }
    };

    explicit AsyncStream(std::shared_ptr<State> state) : state_(std::move(state)) {}

    void giveUp() {
        if (state_ && !state_->terminated) {
            state_->cancel();
        }
        state_.reset();
    }

    std::shared_ptr<State> state_;
};

} // namespace somnara
