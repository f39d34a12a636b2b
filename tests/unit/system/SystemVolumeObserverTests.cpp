#include "support/TestLoop.hpp"

#include <somnara/runtime/NotificationCenter.hpp>
#include <somnara/system/SystemVolumeObserver.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace somnara {
namespace {

/// A session whose volume the test sets; it announces nothing by itself.
class VolumeSession final : public AudioSession {
public:
    float volume = 0.4F;

    void setCategory(RouteSharingPolicy, bool) override {}
    void setActive(bool) override {}
    AudioSessionRouteDescription currentRoute() const override { return {}; }
    float outputVolume() const override { return volume; }
};

using SystemVolumeObserverTest = test::LoopTest;

// Each announcement is read when it is handled, not when it was made: two quick changes publish the
// later volume twice, and a mute publishes exactly 0.
TEST_F(SystemVolumeObserverTest, PublishesTheVolumeReadWhenEachChangeIsHandled) {
    const auto session = std::make_shared<VolumeSession>();
    const auto observer = SystemVolumeObserver::make(session);
    std::vector<float> seen;
    auto task =
        spawn([&, volumes = observer->systemVolumeSubject()->subscribe()]() mutable -> asio::awaitable<void> {
            while (const auto volume = co_await volumes.next()) {
                seen.push_back(*volume);
            }
        });
    loop.runUntilIdle();
    const auto announce = [&] {
        loop.notificationCenter().post({AudioSession::outputVolumeChangeNotification, {}});
    };

    session->volume = 0.7F;
    announce();
    session->volume = 0.2F;
    announce();
    loop.runUntilIdle();
    session->volume = 0.0F;
    announce();
    loop.runUntilIdle();
    EXPECT_EQ(seen, (std::vector<float>{0.4F, 0.2F, 0.2F, 0.0F}));
    EXPECT_EQ(observer->systemVolumeSubject()->currentValue(), 0.0F);
    task.cancel();
    loop.runUntilIdle();
}

} // namespace
} // namespace somnara
