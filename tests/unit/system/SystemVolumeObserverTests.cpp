#include "support/ScriptedAudioSession.hpp"
#include "support/TestLoop.hpp"

#include <somnara/system/SystemVolumeObserver.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace somnara {
namespace {

using SystemVolumeObserverTest = test::LoopTest;

// Each announcement is read when it is handled, not when it was made: two quick changes publish the
// later volume twice, and a mute publishes exactly 0.
TEST_F(SystemVolumeObserverTest, PublishesTheVolumeReadWhenEachChangeIsHandled) {
    const auto session = std::make_shared<test::ScriptedAudioSession>();
    const auto observer = SystemVolumeObserver::make(session);
    std::vector<float> seen;
    auto task =
        spawn([&, volumes = observer->systemVolumeSubject()->subscribe()]() mutable -> asio::awaitable<void> {
            while (const auto volume = co_await volumes.next()) {
                seen.push_back(*volume);
            }
        });
    loop.runUntilIdle();
    session->changeVolume(0.7F);
    session->changeVolume(0.2F);
    loop.runUntilIdle();
    session->changeVolume(0.0F);
    loop.runUntilIdle();
    EXPECT_EQ(seen, (std::vector<float>{1.0F, 0.2F, 0.2F, 0.0F}));
    EXPECT_EQ(observer->systemVolumeSubject()->currentValue(), 0.0F);
    task.cancel();
    loop.runUntilIdle();
}

} // namespace
} // namespace somnara
