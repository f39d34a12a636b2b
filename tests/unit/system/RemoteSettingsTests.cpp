#include "support/TestLoop.hpp"

#include <somnara/system/RemoteSettings.hpp>

#include <chrono>
#include <functional>
#include <vector>

namespace somnara {
namespace {

using namespace std::chrono_literals;

class RemoteSettingsTest : public test::LoopTest {};

TEST_F(RemoteSettingsTest, DefaultsAreTheBuiltInSwitches) {
    const auto& d = RemoteSettings::defaults();
    EXPECT_EQ(std::vector<bool>({d.isShowTracklistHintOnFirstLaunchEnabled, d.isSurveyPromptEnabled,
                                 d.logToZelAnalyticsEnabled, d.isNewOnboardingEnabled, d.adsEnabled,
                                 d.analyticsEnabledDefault, d.comeBackNotificationEnabled,
                                 d.orvaleAdsBannerEnabled}),
              std::vector<bool>({true, true, false, true, false, false, true, false}));
    EXPECT_EQ(std::vector<std::int64_t>({d.showTracklistHintAfterSkipsCount, d.surveyPromptInterval,
                                         d.reviewPromptListensDelay, d.reviewPromptDaysDelay,
                                         d.adsMinListeningHours, d.adsMinLaunchCount}),
              std::vector<std::int64_t>({8, 7, 1, 1, 1, 3}));
    EXPECT_EQ(d.minimumFirstInstalledAppVersionForAds, "3.4.1");
}

TEST_F(RemoteSettingsTest, EveryFieldTakesPartInEquality) {
    const std::vector<std::function<void(RemoteSettings&)>> changes = {
        [](auto& r) { r.isShowTracklistHintOnFirstLaunchEnabled = false; },
        [](auto& r) { r.showTracklistHintAfterSkipsCount = 9; },
        [](auto& r) { r.isSurveyPromptEnabled = false; },
        [](auto& r) { r.surveyPromptInterval = 8; },
        [](auto& r) { r.logToZelAnalyticsEnabled = true; },
        [](auto& r) { r.reviewPromptListensDelay = 2; },
        [](auto& r) { r.reviewPromptDaysDelay = 2; },
        [](auto& r) { r.isNewOnboardingEnabled = false; },
        [](auto& r) { r.minimumFirstInstalledAppVersionForAds = "3.4.2"; },
        [](auto& r) { r.adsEnabled = true; },
        [](auto& r) { r.adsMinListeningHours = 2; },
        [](auto& r) { r.adsMinLaunchCount = 4; },
        [](auto& r) { r.analyticsEnabledDefault = true; },
        [](auto& r) { r.comeBackNotificationEnabled = false; },
        [](auto& r) { r.orvaleAdsBannerEnabled = true; },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        RemoteSettings changed = RemoteSettings::defaults();
        changes[i](changed);
        EXPECT_NE(changed, RemoteSettings::defaults()) << "field " << i;
    }
}

TEST_F(RemoteSettingsTest, SubscriberGetsTheDefaultsAtOnceAndNothingAfterwards) {
    const StaticRemoteSettingsStore store;
    std::vector<RemoteSettings> received;
    auto task =
        spawn([stream = store.changesSubject()->subscribe(), &received]() mutable -> asio::awaitable<void> {
            while (auto value = co_await stream.next()) {
                received.push_back(*value);
            }
        });
    loop.runUntilIdle();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], RemoteSettings::defaults());

    loop.advance(24h);
    const StaticRemoteSettingsStore later;
    loop.advance(1h);
    EXPECT_EQ(received.size(), 1u);
    EXPECT_FALSE(task.isFinished());
    EXPECT_EQ(later.remoteSettings(), store.remoteSettings());
    EXPECT_EQ(store.changesSubject()->currentValue(), store.remoteSettings());
    task.cancel();
    loop.runUntilIdle();
    EXPECT_TRUE(task.isFinished());
}

} // namespace
} // namespace somnara
