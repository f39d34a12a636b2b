#include "support/Recorders.hpp"
#include "support/TestLoop.hpp"

#include <somnara/system/RemoteSettings.hpp>

#include <chrono>
#include <vector>

namespace somnara {
namespace {

using namespace std::chrono_literals;

class RemoteSettingsTest : public test::LoopTest {};

TEST_F(RemoteSettingsTest, SubscriberGetsTheDefaultsAtOnceAndNothingAfterwards) {
    const StaticRemoteSettingsStore store;
    const test::StreamRecorder received(store.changesSubject());
    loop.runUntilIdle();
    loop.advance(24h);
    const StaticRemoteSettingsStore later;
    loop.advance(1h);
    EXPECT_EQ(received.values, std::vector<RemoteSettings>{RemoteSettings::defaults()});
    EXPECT_EQ(later.remoteSettings(), store.remoteSettings());
}

} // namespace
} // namespace somnara
