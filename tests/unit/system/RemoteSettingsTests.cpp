#include "support/Recorders.hpp"
#include "support/TestLoop.hpp"

#include <somnara/system/RemoteSettings.hpp>

#include <chrono>
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
