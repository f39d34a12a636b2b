#pragma once

#include <somnara/runtime/Task.hpp>

#include <asio/awaitable.hpp>

#include <exception>
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

    /// Waits for every child; rethrows the first failure (in start order) once all have ended.
    [[nodiscard]] asio::awaitable<void> waitForAll() {
        std::exception_ptr firstError;
        for (auto& child : std::exchange(children_, {})) {
            try {
                co_await child.value();
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
