#pragma once

#include <somnara/foundation/AsyncCurrentValueSubject.hpp>

#include <cstdint>
#include <memory>
#include <string>

namespace somnara {

/// Feature switches and thresholds that the app's screens consult (hints, prompts, onboarding,
/// advertising, analytics consent). A plain value compared field by field.
struct RemoteSettings {
    bool isShowTracklistHintOnFirstLaunchEnabled = true;
    std::int64_t showTracklistHintAfterSkipsCount = 8;
    bool isSurveyPromptEnabled = true;
    std::int64_t surveyPromptInterval = 7;
    bool logToZelAnalyticsEnabled = false;
    std::int64_t reviewPromptListensDelay = 1;
    std::int64_t reviewPromptDaysDelay = 1;
    bool isNewOnboardingEnabled = true;
    std::string minimumFirstInstalledAppVersionForAds = "3.4.1";
    bool adsEnabled = false;
    std::int64_t adsMinListeningHours = 1;
    std::int64_t adsMinLaunchCount = 3;
    bool analyticsEnabledDefault = false;
    bool comeBackNotificationEnabled = true;
    bool orvaleAdsBannerEnabled = false;

    /// The built-in record (the member initialisers above).
    static const RemoteSettings& defaults() {
        static const RemoteSettings record{};
        return record;
    }

    friend bool operator==(const RemoteSettings&, const RemoteSettings&) = default;
};

/// Where screens read the remote settings: the current record and a subject that publishes it. Loop only.
class RemoteSettingsStore {
public:
    virtual ~RemoteSettingsStore() = default;

    virtual RemoteSettings remoteSettings() const = 0;
    /// Its current value is always `remoteSettings()`.
    virtual std::shared_ptr<AsyncCurrentValueSubject<RemoteSettings>> changesSubject() const = 0;
};

/// Serves the built-in record and never changes it: fixed configuration with a subscription point for a
/// future remote source. Loop only.
class StaticRemoteSettingsStore final : public RemoteSettingsStore {
public:
    StaticRemoteSettingsStore()
        : remoteSettings_(RemoteSettings::defaults()),
          changesSubject_(AsyncCurrentValueSubject<RemoteSettings>::make(remoteSettings_)) {}

    RemoteSettings remoteSettings() const override { return remoteSettings_; }
    std::shared_ptr<AsyncCurrentValueSubject<RemoteSettings>> changesSubject() const override {
        return changesSubject_;
    }

private:
    // Immutable after construction.
    const RemoteSettings remoteSettings_;
    const std::shared_ptr<AsyncCurrentValueSubject<RemoteSettings>> changesSubject_;
};

} // namespace somnara
