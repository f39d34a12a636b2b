#pragma once

#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/Task.hpp>

#include <gtest/gtest.h>

#include <exception>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace somnara::test {

/// A test fixture with a fresh virtual-time loop per test.
class LoopTest : public ::testing::Test {
protected:
    VirtualLoop loop;

    /// Runs `makeAwaitable()` as a task until the loop is idle and returns its result or rethrows what
    /// it threw. Throws when the task has not finished by then (it waits on time the test did not
    /// advance, or on a stream nobody feeds).
    template <class F>
    auto run(F&& makeAwaitable) {
        using T = typename std::invoke_result_t<std::decay_t<F>&>::value_type;
        std::optional<detail::StoredValue<T>> value;
        std::exception_ptr error;
        bool done = false;
        spawn([&, function = std::forward<F>(makeAwaitable)]() mutable -> asio::awaitable<void> {
            try {
                if constexpr (std::is_void_v<T>) {
                    co_await function();
                    value.emplace();
                } else {
                    value.emplace(co_await function());
                }
            } catch (...) {
                error = std::current_exception();
            }
            done = true;
        });
        loop.runUntilIdle();
        if (!done) {
            throw std::logic_error("the task is still waiting once the loop is idle");
        }
        if (error) {
            std::rethrow_exception(error);
        }
        if constexpr (!std::is_void_v<T>) {
            return std::move(*value);
        }
    }
};

} // namespace somnara::test
