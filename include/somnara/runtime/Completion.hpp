#pragma once

#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/UniqueFunction.hpp>

#include <asio/associated_executor.hpp>
#include <asio/post.hpp>
#include <utility>

namespace somnara::detail {

/// The pending completion of one of our asynchronous operations (a sleep, a stream's next element, a
/// task's value), type-erased so that operation state can hold it. Completing it never resumes the
/// waiting coroutine inline: the resumption is posted, so a producer is never re-entered by its
/// consumer.
template <class... Args>
class Completion {
public:
    Completion() = default;

    template <class Handler>
    static Completion from(Handler&& handler) {
        auto executor = asio::get_associated_executor(handler, Loop::current().executor());
        return Completion{UniqueFunction<void(Args...)>{
            [handler = std::forward<Handler>(handler), executor](Args... args) mutable {
                asio::post(executor, [handler = std::move(handler), ... args = std::move(args)]() mutable {
                    std::move(handler)(std::move(args)...);
                });
            }}};
    }

    explicit operator bool() const noexcept { return static_cast<bool>(function_); }

    /// Completes once; later calls do nothing.
    void operator()(Args... args) {
        if (auto function = std::exchange(function_, nullptr)) {
            function(std::move(args)...);
        }
    }

private:
    explicit Completion(UniqueFunction<void(Args...)> function) : function_(std::move(function)) {}

    UniqueFunction<void(Args...)> function_;
};

} // namespace somnara::detail
