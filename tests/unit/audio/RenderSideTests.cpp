#include "audio/rt/MixerStage.hpp"
#include "audio/rt/RenderGraph.hpp"
#include "audio/rt/SpscQueue.hpp"
#include "audio/rt/Voice.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <thread>
#include <vector>

namespace somnara::rt {
namespace {

// One producer thread, one consumer thread: every value arrives once and in order, across many
// wrap-arounds of a queue the producer keeps full (run it under ThreadSanitizer to check the memory
// orders).
TEST(SpscQueue, transfersBetweenTwoThreadsInOrder) {
    struct Value {
        std::uint64_t sequence;
        std::uint64_t check;
    };
    SpscQueue<Value, 64> queue;
    constexpr std::uint64_t count = 200'000;
    std::thread producer([&] {
        for (std::uint64_t i = 0; i < count;) {
            if (queue.push(Value{i, i * 2'654'435'761U})) {
                ++i;
            }
        }
    });
    std::uint64_t received = 0;
    bool ordered = true;
    while (received < count) {
        if (auto value = queue.pop()) {
            ordered = ordered && value->sequence == received && value->check == received * 2'654'435'761U;
            ++received;
        }
    }
    producer.join();
    EXPECT_TRUE(ordered);
}

TEST(ThreadRoles, TwoThreadsAtOneEndOfTheQueueAbortInDebugBuilds) {
#ifdef NDEBUG
    GTEST_SKIP() << "thread roles are asserted in debug and sanitizer builds";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Both threads push and pop, so each end has two users; the assertion fires at their first
    // overlap, long before the iterations run out.
    using Queue = SpscQueue<int, 64>;
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

class RecordingSink final : public EventSink {
public:
    void itemEnded(std::size_t, double time, const RenderEvent& event) noexcept override {
        ended.push_back({event, time});
    }
    void report(const RenderEvent& event) noexcept override { reported.push_back(event); }
    void underrun() noexcept override { ++underruns; }

    std::vector<std::pair<RenderEvent, double>> ended;
    std::vector<RenderEvent> reported;
    int underruns = 0;
};

struct VoiceRig {
    VoiceRig() {
        voice.prepare(44'100);
        send(RenderCommand::Kind::claimVoice, 7);
        send(RenderCommand::Kind::route, 7, 0);
    }
    void send(RenderCommand::Kind kind, std::uint32_t generation, std::uint64_t item = 0,
              PcmBuffer* buffer = nullptr) {
        RenderCommand command;
        command.kind = kind;
        command.voice = 3;
        command.generation = generation;
        command.item = item;
        command.buffer = buffer;
        voice.apply(command, 3, sink);
    }
    std::vector<float> mix(std::size_t frames, double time = 0) {
        std::vector<float> left(frames);
        std::vector<float> right(frames);
        std::vector<float> gains(4 * frames);
        voice.mix(left.data(), right.data(), frames, time, 0,
                  GainScratch{gains.data(), gains.data() + frames, gains.data() + 2 * frames,
                              gains.data() + 3 * frames},
                  sink, false);
        return left;
    }

    Voice voice;
    RecordingSink sink;
};

// A voice that catches up with its decoder plays what is ready, counts an underrun and waits in place;
// it goes on from the same frame once more is ready, and the item ends at the right time.
TEST(Voice, waitsInPlaceWhenItsDecoderIsBehind) {
    VoiceRig rig;
    PcmBuffer buffer{1'000};
    for (std::size_t i = 0; i < 1'000; ++i) {
        buffer.left[i] = static_cast<float>(i + 1);
    }
    buffer.ready_ = 100;
    rig.send(RenderCommand::Kind::schedule, 7, 42, &buffer);
    rig.send(RenderCommand::Kind::play, 7);
    auto first = rig.mix(256);
    EXPECT_EQ(first[99], 100.0F);
    EXPECT_EQ(first[100], 0.0F);
    EXPECT_EQ(rig.sink.underruns, 1);
    buffer.ready_ = 1'000;
    buffer.complete_ = true;
    auto second = rig.mix(1'000, 256);
    EXPECT_EQ(second[0], 101.0F);
    ASSERT_EQ(rig.sink.ended.size(), 1U);
    EXPECT_EQ(rig.sink.ended[0].first.item, 42U);
    EXPECT_EQ(rig.sink.ended[0].second, 256.0 + 900.0);
}

// Commands carrying an old generation are ignored; an item they carried is handed back so that its
// memory can go. A full queue refuses further items the same way.
TEST(Voice, ignoresStaleCommandsAndHandsBackWhatItCannotTake) {
    VoiceRig rig;
    PcmBuffer buffer{10};
    buffer.ready_ = 10;
    buffer.complete_ = true;
    rig.send(RenderCommand::Kind::schedule, 6, 1, &buffer);
    rig.send(RenderCommand::Kind::play, 6);
    EXPECT_EQ(rig.mix(16).front(), 0.0F);
    ASSERT_EQ(rig.sink.reported.size(), 1U);
    EXPECT_EQ(rig.sink.reported[0].item, 1U);
    EXPECT_EQ(rig.sink.reported[0].kind, RenderEvent::Kind::flushed);

    for (std::uint64_t item = 100; item < 100 + Voice::queueCapacity + 2; ++item) {
        rig.send(RenderCommand::Kind::schedule, 7, item, &buffer);
    }
    ASSERT_EQ(rig.sink.reported.size(), 3U);
    EXPECT_EQ(rig.sink.reported[1].item, 100 + Voice::queueCapacity);
    EXPECT_EQ(rig.sink.reported[2].item, 101 + Voice::queueCapacity);
}

// A loop that falls far behind collecting events loses none: the render side takes a command only while
// the event queue has room for every item it holds and the one the command may add.
TEST(RenderGraph, takesCommandsOnlyWhileEveryEventHasRoom) {
    std::array<Voice, 2> voices;
    auto commands = std::make_unique<CommandQueue>();
    auto events = std::make_unique<EventQueue>();
    RenderGraph graph{44'100, 256, false, 0, voices, *commands, *events};
    graph.append(
        std::make_unique<MixerStage>(0, 0, std::make_shared<MixerParameters>(), voices, graph.sink(), false));
    graph.prepare();
    std::vector<float> left(256);
    std::vector<float> right(256);

    // Items for a voice nobody has claimed: each is handed back at once, one event each.
    constexpr std::uint64_t items = 3'000;
    std::uint64_t sent = 0;
    const auto sendWhatFits = [&] {
        RenderCommand command;
        command.kind = RenderCommand::Kind::schedule;
        while (sent < items) {
            command.item = sent;
            if (!commands->push(command)) {
                break;
            }
            ++sent;
        }
    };
    for (int block = 0; block < 4; ++block) {
        sendWhatFits();
        graph.render(left.data(), right.data(), left.size()); // nobody collects meanwhile
    }
    std::vector<int> reported(items, 0);
    for (int block = 0; block < 10; ++block) {
        while (const auto event = events->pop()) {
            ++reported[event->item];
        }
        sendWhatFits();
        graph.render(left.data(), right.data(), left.size());
    }
    EXPECT_EQ(sent, items);
    EXPECT_EQ(std::count(reported.begin(), reported.end(), 1), static_cast<std::ptrdiff_t>(items))
        << "every item reported exactly once";
}

} // namespace
} // namespace somnara::rt
