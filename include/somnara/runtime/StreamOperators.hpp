#pragma once

#include <somnara/runtime/AsyncStream.hpp>
#include <somnara/runtime/Task.hpp>

#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace somnara {

/// Forwards `source` into a new stream through `step(value, continuation)`, in a task that ends when
/// either side ends: the source finishing finishes the result; the result's consumer giving up
/// cancels the task and with it the source.
template <class Out, class In, class Step>
AsyncStream<Out> transformStream(AsyncStream<In> source, Step step) {
    auto [result, continuation] = AsyncStream<Out>::make();
    auto task = spawn([source = std::move(source), continuation, step]() mutable -> asio::awaitable<void> {
        while (auto value = co_await source.next()) {
            step(std::move(*value), continuation);
        }
        continuation.finish();
    });
    continuation.onTermination([task](StreamTermination) { task.cancel(); });
    return std::move(result);
}

/// Drops each value equal to the one before it.
template <class T>
AsyncStream<T> removeDuplicates(AsyncStream<T> source) {
    return transformStream<T>(
        std::move(source),
        [last = std::optional<T>{}](T value, const typename AsyncStream<T>::Continuation& out) mutable {
            if (!last || !(*last == value)) {
                last = value;
                out.yield(std::move(value));
            }
        });
}

/// Applies `transform` to each value.
template <class T, class Transform>
auto mapStream(AsyncStream<T> source, Transform transform) {
    using Out = std::invoke_result_t<Transform&, T>;
    return transformStream<Out>(
        std::move(source), [transform](T value, const typename AsyncStream<Out>::Continuation& out) mutable {
            out.yield(transform(std::move(value)));
        });
}

/// Runs `body(owner, value)` for each value of `stream` in a long-running task that holds its owner
/// weakly: the owner is locked only while one value is handled, and the task ends when the owner is
/// gone or the stream ends. `body` may return void or an awaitable.
template <class Owner, class T, class Body>
Task<void> observe(const std::shared_ptr<Owner>& owner, AsyncStream<T> stream, Body body) {
    return spawn([weak = std::weak_ptr<Owner>(owner), stream = std::move(stream),
                  body = std::move(body)]() mutable -> asio::awaitable<void> {
        while (auto value = co_await stream.next()) {
            auto strong = weak.lock();
            if (!strong) {
                co_return;
            }
            if constexpr (std::is_void_v<std::invoke_result_t<Body&, Owner&, T>>) {
                body(*strong, std::move(*value));
            } else {
                co_await body(*strong, std::move(*value));
            }
        }
    });
}

} // namespace somnara
