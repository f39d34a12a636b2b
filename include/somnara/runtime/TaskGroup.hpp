#pragma once

#include <somnara/runtime/Task.hpp>

#include <asio/awaitable.hpp>

#include <exception>
#include <functional>
#include <utility>
#include <vector>

namespace somnara {

/// Child tasks that run all at once and are waited for together. Loop only.
class TaskGroup {
public:
    /// Starts `makeAwaitable()` as a child task.
    template <class F>
    void spawn(F&& makeAwaitable) {
        children_.push_back(somnara::spawn(std::forward<F>(makeAwaitable)));
    }

    void cancelAll() const {
        for (const auto& child : children_) {
            child.cancel();
        }
    }

    /// Waits for every child; rethrows the first failure (in start order) once all have ended. A
    /// cancelled waiter cancels the children and still waits for them: none outlives the wait.
    [[nodiscard]] asio::awaitable<void> waitForAll() {
        const auto children = std::exchange(children_, {});
        const std::function<void()> cancelChildren = [children] {
            for (const auto& child : children) {
                child.cancel();
            }
        };
        std::exception_ptr firstError;
        for (const auto& child : children) {
            // A cancellation that came before this wait began is not signalled again.
            const bool cancelled = co_await isCancelled();
            if (cancelled) {
                cancelChildren();
            }
            try {
                auto ending = child.value(cancelChildren);
                co_await std::move(ending);
            } catch (...) {
                if (!firstError) {
                    firstError = std::current_exception();
                }
            }
        }
        if (firstError) {
            std::rethrow_exception(firstError);
        }
    }

private:
    std::vector<Task<void>> children_;
};

/// Runs `body(element)` for every element at once and returns when all have finished. The elements are
/// copied, so the caller's container may change while the bodies run.
template <class Range, class Body>
[[nodiscard]] asio::awaitable<void> concurrentForEach(Range elements, Body body) {
    TaskGroup group;
    for (const auto& element : elements) {
        group.spawn([body, element]() { return body(element); });
    }
    co_await group.waitForAll();
}

} // namespace somnara
