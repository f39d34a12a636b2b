#include "support/Recorders.hpp"

#include <somnara/runtime/AsyncStream.hpp>
#include <somnara/runtime/NotificationCenter.hpp>
#include <somnara/runtime/Sleep.hpp>
#include <somnara/runtime/StreamOperators.hpp>
#include <somnara/runtime/TaskGroup.hpp>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace somnara;
using namespace std::chrono_literals;

namespace {

class Runtime : public test::LoopTest {};

// Wake-up times, the wall clock and cancelled sleeps are checked through the timers built on sleeps; the
// order of sleeps due at one instant is not.
TEST_F(Runtime, SleepsDueAtOneInstantWakeInTheOrderTheyBegan) {
    std::vector<std::string> order;
    for (const char* name : {"first", "second", "third"}) {
        spawn([&order, name]() -> asio::awaitable<void> {
            co_await sleep(1s);
            order.emplace_back(name);
        });
    }
    loop.advance(1s);
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "third"}));
}

// A stream terminates once: finished (after delivering everything yielded before, in order), or
// cancelled with its consumer, or dropped unconsumed.
TEST_F(Runtime, StreamTerminatesOnceWhenFinishedCancelledOrDropped) {
    std::vector<StreamTermination> terminations;
    const auto record = [&](StreamTermination why) { terminations.push_back(why); };
    auto [stream, continuation] = AsyncStream<int>::make();
    continuation.onTermination(record);
    for (int value = 0; value < 1000; ++value) {
        continuation.yield(value);
    }
    continuation.finish();
    continuation.yield(1000); // ignored: the stream has ended
    const test::StreamRecorder received{std::move(stream)};
    loop.runUntilIdle();
    ASSERT_EQ(received.values.size(), 1000u);
    EXPECT_EQ(received.values.back(), 999);
    EXPECT_EQ(terminations, std::vector{StreamTermination::finished});

    auto [consumed, producer] = AsyncStream<int>::make();
    producer.onTermination(record);
    bool loopEnded = false;
    auto consumer = spawn([&, consumed = std::move(consumed)]() mutable -> asio::awaitable<void> {
        while (co_await consumed.next()) {
        }
        loopEnded = true;
    });
    loop.runUntilIdle();
    consumer.cancel();
    loop.runUntilIdle();
    EXPECT_TRUE(loopEnded);
    EXPECT_TRUE(producer.isTerminated());
    producer.finish();
    {
        auto [dropped, orphan] = AsyncStream<int>::make();
        orphan.onTermination(record);
    }
    EXPECT_EQ(terminations, (std::vector{StreamTermination::finished, StreamTermination::cancelled,
                                         StreamTermination::cancelled}));
}

// Giving up an operator's stream cancels the pump that reads its source.
TEST_F(Runtime, RemoveDuplicatesDropsOnlyConsecutiveRepeatsAndStopsReadingWhenGivenUp) {
    auto [stream, continuation] = AsyncStream<int>::make();
    for (int value : {1, 1, 2, 2, 2, 1, 3, 3}) {
        continuation.yield(value);
    }
    continuation.finish();
    const test::StreamRecorder unique{removeDuplicates(std::move(stream))};
    loop.runUntilIdle();
    EXPECT_EQ(unique.values, (std::vector{1, 2, 1, 3}));

    auto [source, open] = AsyncStream<int>::make();
    bool sourceTerminated = false;
    open.onTermination([&](StreamTermination) { sourceTerminated = true; });
    {
        auto abandoned = removeDuplicates(std::move(source));
        loop.runUntilIdle();
    }
    loop.runUntilIdle();
    EXPECT_TRUE(sourceTerminated);
}

TEST_F(Runtime, ConcurrentForEachRunsAllAtOnceAndWaitsForAll) {
    std::vector<int> finished;
    const std::vector<int> durations{3, 1, 2}; // outside the coroutine: g++ 12 rejects braced lists inside
    auto task = spawn([&]() -> asio::awaitable<void> {
        co_await concurrentForEach(durations, [&](int seconds) -> asio::awaitable<void> {
            co_await sleep(Seconds(seconds));
            finished.push_back(seconds);
        });
        finished.push_back(0);
    });
    loop.advance(2.5s);
    EXPECT_EQ(finished, (std::vector{1, 2}));
    loop.advance(0.5s);
    EXPECT_EQ(finished, (std::vector{1, 2, 3, 0})) << "all at once: three seconds in all, not six";

    // A cancelled parent cancels every child, those not yet waited for included, and waits for them.
    std::vector<std::string> ended;
    auto parent = spawn([&]() -> asio::awaitable<void> {
        TaskGroup group;
        for (const char* name : {"first", "second"}) {
            group.spawn([&ended, name]() -> asio::awaitable<void> {
                try {
                    co_await sleep(3600s);
                } catch (const CancellationError&) {
                    ended.emplace_back(name);
                }
            });
        }
        co_await group.waitForAll();
        ended.emplace_back("parent");
    });
    loop.advance(1s);
    parent.cancel();
    loop.runUntilIdle();
    EXPECT_EQ(ended, (std::vector<std::string>{"first", "second", "parent"}));
}

TEST_F(Runtime, TaskValueCarriesResultsAndErrors) {
    auto answer = spawn([]() -> asio::awaitable<int> { co_return 42; });
    auto failure = spawn([]() -> asio::awaitable<int> {
        throw std::runtime_error("broken");
        co_return 0;
    });
    EXPECT_EQ(run([answer]() { return answer.value(); }), 42);
    EXPECT_THROW(run([failure]() { return failure.value(); }), std::runtime_error);
    EXPECT_THROW(run([]() { return Task<int>().value(); }), std::logic_error) << "a handle of no task";
}

TEST(LoopTeardown, ToleratesWorkThatCancelsOtherTimersWhileItIsDestroyed) {
    // A timer whose work, when the loop destroys it, cancels a sleeping task: that cancellation
    // removes the sleep's timer while the loop is clearing its timers.
    struct CancelsWhenDestroyed {
        Task<void> other;
        int* destroyed;
        ~CancelsWhenDestroyed() {
            ++*destroyed;
            other.cancel();
        }
    };
    int destroyed = 0;
    for (const bool cancelsTheEarlier : {true, false}) {
        VirtualLoop loop;
        const auto sleepFor = [](Seconds duration) {
            return spawn([duration]() -> asio::awaitable<void> { co_await sleep(duration); });
        };
        for (int i = 1; i < 8; ++i) {
            sleepFor(Seconds(i)); // a fuller map, so the removal restructures it
        }
        auto other = sleepFor(cancelsTheEarlier ? 10s : 30s);
        loop.runUntilIdle();
        loop.addTimer(loop.continuousNow() + 20s, Seconds{0},
                      [guard = std::make_shared<CancelsWhenDestroyed>(other, &destroyed)] {});
        // Destroying the loop here must neither corrupt its timers nor touch freed memory.
    }
    EXPECT_EQ(destroyed, 2) << "each loop destroyed the work that cancels";
}

TEST(LoopTeardown, DropsWorkPostedFromAnotherThreadWhileItIsDestroyed) {
    // Another thread posts without pause while the loop goes. The poster is stopped and joined by
    // work the loop destroys last, so its posts reach into the destructor itself; ThreadSanitizer
    // sees any unsynchronised read of the loop's context.
    std::atomic<int> posted = 0;
    std::atomic<bool> stop = false;
    std::thread poster;
    struct JoinsWhenDestroyed {
        std::atomic<bool>* stop;
        std::thread* poster;
        ~JoinsWhenDestroyed() {
            *stop = true;
            poster->join();
        }
    };
    {
        VirtualLoop loop;
        poster = std::thread([&] {
            while (!stop) {
                loop.post([] {});
                ++posted;
            }
        });
        loop.post([joiner = std::make_shared<JoinsWhenDestroyed>(&stop, &poster)] {});
        while (posted < 1000) {
            std::this_thread::yield();
        }
    }
    EXPECT_FALSE(poster.joinable()) << "the loop destroyed the work that stops the poster";
}

TEST(ThreadRoles, LoopOnlyCallsFromAnotherThreadAbortInDebugBuilds) {
#ifdef NDEBUG
    GTEST_SKIP() << "thread roles are asserted in debug and sanitizer builds";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            VirtualLoop loop;
            std::thread([&] { loop.addTimer(loop.continuousNow(), Seconds{0}, [] {}); }).join();
        },
        "isLoopThread");
#endif
}

TEST_F(Runtime, ObserveSkipsWorkOnceItsOwnerIsGone) {
    struct Owner {
        std::vector<int> seen;
    };
    auto owner = std::make_shared<Owner>();
    auto [stream, continuation] = AsyncStream<int>::make();
    auto task = observe(owner, std::move(stream), [](Owner& self, int value) { self.seen.push_back(value); });
    continuation.yield(1);
    loop.runUntilIdle();
    EXPECT_EQ(owner->seen, std::vector{1});
    std::weak_ptr<Owner> weak = owner;
    owner.reset();
    EXPECT_TRUE(weak.expired()) << "the task must not keep its owner alive";
    continuation.yield(2);
    loop.runUntilIdle();
    EXPECT_TRUE(task.isFinished());
}

// Delivery by name is checked through the player's session; here, that a dropped stream stops observing.
TEST_F(Runtime, DroppingANotificationStreamRemovesItsObserver) {
    auto& center = loop.notificationCenter();
    auto routes = center.notifications("route");
    { auto gone = center.notifications("other"); }
    EXPECT_EQ(center.observerCount(), 1u);
}

} // namespace
