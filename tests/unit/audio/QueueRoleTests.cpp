#include "audio/rt/SpscQueue.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(ThreadRoles, TwoThreadsAtOneEndOfTheQueueAbortInDebugBuilds) {
#ifdef NDEBUG
    GTEST_SKIP() << "thread roles are asserted in debug and sanitizer builds";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Both threads push and pop, so each end has two users; the assertion fires at their first
    // overlap, long before the iterations run out.
    using Queue = somnara::rt::SpscQueue<int, 64>;
    const auto useBothEnds = [](Queue& queue) {
        for (int i = 0; i < 100'000'000; ++i) {
            queue.push(i);
            queue.pop();
        }
    };
    EXPECT_DEATH(
        {
            Queue queue;
            std::thread other(useBothEnds, std::ref(queue));
            useBothEnds(queue);
            other.join();
        },
        "two threads use one end");
#endif
}

} // namespace
