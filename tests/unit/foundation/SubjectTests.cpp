#include "support/TestLoop.hpp"

#include <somnara/foundation/AsyncCurrentValueSubject.hpp>
#include <somnara/foundation/AsyncPassthroughSubject.hpp>
#include <somnara/runtime/Sleep.hpp>

#include <numeric>
#include <vector>

using namespace somnara;
using namespace std::chrono_literals;

namespace {

class Subjects : public test::LoopTest {
protected:
    /// Starts a consumer that records every value it receives, pausing `delay` after each one.
    template <class Subject>
    Task<void> record(Subject& subject, std::vector<int>& into, Seconds delay = Seconds{0}) {
        return spawn([stream = subject.subscribe(), &into, delay]() mutable -> asio::awaitable<void> {
            while (auto value = co_await stream.next()) {
                into.push_back(*value);
                if (delay > Seconds{0}) {
                    co_await sleep(delay);
                }
            }
        });
    }
};

TEST_F(Subjects, ASlowSubscriberGetsEveryValueInOrderAndACancelledOneLeavesTheOthers) {
    auto subject = AsyncCurrentValueSubject<int>::make(0);
    std::vector<int> slow, fast;
    record(*subject, slow, 1s);
    record(*subject, fast);
    for (int value = 1; value <= 50; ++value) {
        subject->send(value);
    }
    loop.advance(10s);
    EXPECT_EQ(fast.size(), 51u);
    EXPECT_EQ(slow.size(), 11u) << "one value a second";
    loop.advance(60s);
    std::vector<int> expected(51);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(slow, expected);
    EXPECT_EQ(fast, expected);

    // A cancelled consumer leaves the table and the others carry on.
    std::vector<int> cancelled;
    auto leaving = record(*subject, cancelled);
    loop.runUntilIdle();
    EXPECT_EQ(subject->subscriberCount(), 3u);
    leaving.cancel();
    loop.runUntilIdle();
    EXPECT_TRUE(leaving.isFinished());
    EXPECT_EQ(subject->subscriberCount(), 2u);
    subject->send(51);
    loop.advance(1s);
    EXPECT_EQ(fast.back(), 51);
    EXPECT_EQ(slow.back(), 51);
    EXPECT_EQ(cancelled, std::vector{50});
}

// Subscribers that come later, even after a finish, start from the current value or from nothing.
TEST_F(Subjects, FinishEndsEveryLoopAndLaterSubscribersStartFromTheCurrentValueOrFromNothing) {
    auto current = AsyncCurrentValueSubject<int>::make(0);
    auto passthrough = AsyncPassthroughSubject<int>::make();
    std::vector<int> first, second, afterCurrent, afterPassthrough;
    auto firstLoop = record(*current, first);
    auto secondLoop = record(*passthrough, second);
    current->send(5);
    passthrough->send(5);
    current->finish();
    passthrough->finish();
    loop.runUntilIdle();
    EXPECT_TRUE(firstLoop.isFinished());
    EXPECT_TRUE(secondLoop.isFinished());
    EXPECT_EQ(first, (std::vector{0, 5})) << "queued values drain before the end";
    EXPECT_EQ(second, std::vector{5});
    EXPECT_EQ(current->subscriberCount(), 0u);

    record(*current, afterCurrent);
    record(*passthrough, afterPassthrough);
    loop.runUntilIdle();
    current->send(6);
    passthrough->send(6);
    loop.runUntilIdle();
    EXPECT_EQ(afterCurrent, (std::vector{5, 6}));
    EXPECT_EQ(afterPassthrough, std::vector{6});
}

TEST_F(Subjects, AnOpenSubscriptionKeepsOnlyTheCurrentValueSubjectAlive) {
    std::vector<int> fromCurrent, fromPassthrough;
    auto current = AsyncCurrentValueSubject<int>::make(1);
    auto passthrough = AsyncPassthroughSubject<int>::make();
    std::weak_ptr<AsyncCurrentValueSubject<int>> weakCurrent = current;
    std::weak_ptr<AsyncPassthroughSubject<int>> weakPassthrough = passthrough;
    auto currentLoop = record(*current, fromCurrent);
    auto passthroughLoop = record(*passthrough, fromPassthrough);
    loop.runUntilIdle();

    current.reset();
    passthrough.reset();
    loop.runUntilIdle();
    EXPECT_FALSE(weakCurrent.expired()) << "its open stream holds it";
    EXPECT_FALSE(currentLoop.isFinished());
    EXPECT_TRUE(weakPassthrough.expired());
    EXPECT_TRUE(passthroughLoop.isFinished()) << "destroying the subject finishes its streams";

    weakCurrent.lock()->send(2);
    loop.runUntilIdle();
    EXPECT_EQ(fromCurrent, (std::vector{1, 2}));
    currentLoop.cancel();
    loop.runUntilIdle();
    EXPECT_TRUE(weakCurrent.expired()) << "released once its last stream has ended";
}

} // namespace
