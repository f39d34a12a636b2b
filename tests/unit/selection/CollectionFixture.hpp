#pragma once

#include "support/LogLines.hpp"
#include "support/Recorders.hpp"
#include "support/TestLoop.hpp"

#include <somnara/library/CloudStore.hpp>
#include <somnara/library/SoundTrackFavouritesStore.hpp>
#include <somnara/library/SoundTrackMixesStore.hpp>
#include <somnara/linux/files/FileUserDefaults.hpp>
#include <somnara/platform/CloudKeyValueStore.hpp>
#include <somnara/selection/SoundTracksCollection.hpp>
#include <somnara/settings/NoisePlayerSettingsStore.hpp>
#include <somnara/system/EventLogger.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace somnara::test {

/// The library's stores over memory (their own cloud store and app-group defaults), user defaults in
/// memory, and a collection made over them as the app does.
struct CollectionStores {
    /// Persists `stored`, then makes the settings store and the collection over `allSoundTracks`.
    void makeCollection(const NoisePlayerSettings& stored,
                        std::vector<SoundTrack> allSoundTracks = allCases()) {
        const auto text = stored.encode();
        defaults->set(UserDefaultsValue::Data(text.begin(), text.end()),
                      NoisePlayerSettingsStore::userDefaultsKey);
        settingsStore = NoisePlayerSettingsStore::make(defaults, "/nonexistent/settings");
        collection = SoundTracksCollection::make(std::move(allSoundTracks), favourites, mixes, settingsStore);
    }

    static std::vector<SoundTrack> allCases() {
        const auto& cases = SoundTrack::allCases();
        return {cases.begin(), cases.end()};
    }

    static NoisePlayerSettings selecting(SoundTrackSet soundTracks,
                                         SelectionMode mode = SelectionMode::multiple,
                                         NoisePlayerSettings::MixVolumes volumes = {}) {
        return NoisePlayerSettings{}
            .withCurrentSoundTracks(std::move(soundTracks))
            .withSelectionMode(mode)
            .withSoundTracksMixVolume(std::move(volumes));
    }

    std::shared_ptr<FileUserDefaults> defaults = std::make_shared<FileUserDefaults>(std::nullopt);
    std::shared_ptr<NoisePlayerSettingsStore> settingsStore;
    std::shared_ptr<CloudStore> cloud = CloudStore::make(std::make_shared<MemoryCloudKeyValueStore>());
    std::shared_ptr<FileUserDefaults> groupDefaults = std::make_shared<FileUserDefaults>(std::nullopt);
    std::shared_ptr<SoundTrackFavouritesStore> favourites =
        std::make_shared<SoundTrackFavouritesStore>(cloud, [defaults = groupDefaults] { return defaults; });
    std::shared_ptr<SoundTrackMixesStore> mixes =
        std::make_shared<SoundTrackMixesStore>(cloud, groupDefaults);
    std::shared_ptr<SoundTracksCollection> collection;
};

/// A collection over in-memory user defaults, with the persisted settings chosen by the test, and
/// recorders of what it publishes, logs and reports.
class CollectionTest : public LoopTest, protected CollectionStores {
protected:
    CollectionTest() {
        EventLogger::setLaunchArgumentsForTesting(std::vector<std::string>{"test"});
        logLines().clear();
    }

    ~CollectionTest() override {
        EventLogger::setLaunchArgumentsForTesting(std::nullopt);
        // The stores' cloud tasks keep the stores alive until their subscription ends: end it, so that
        // everything goes before the loop does.
        cloud->dictionarySubject()->finish();
        loop.runUntilIdle();
    }

    /// Creates the stores and the collection as the app does, with `stored` persisted beforehand, and
    /// lets the start-up and its follow-ups run.
    void start(const NoisePlayerSettings& stored, std::vector<SoundTrack> allSoundTracks = allCases()) {
        makeCollection(stored, std::move(allSoundTracks));
        modes = std::make_unique<StreamRecorder<SelectionMode>>(collection->selectionModeSubject());
        names = std::make_unique<StreamRecorder<std::string>>(collection->selectionNameSubject());
        changes = std::make_unique<StreamRecorder<SelectedSoundTracksChange>>(
            collection->selectedSoundTracksSubject());
        selectedMixes =
            std::make_unique<StreamRecorder<std::optional<Mix>>>(collection->selectedMixSubject());
        loop.runUntilIdle();
    }

    /// What the user defaults hold now.
    NoisePlayerSettings persisted() const {
        const auto data = defaults->data(NoisePlayerSettingsStore::userDefaultsKey);
        return NoisePlayerSettings::decode(std::string(data->begin(), data->end()));
    }

    std::unique_ptr<StreamRecorder<SelectionMode>> modes;
    std::unique_ptr<StreamRecorder<std::string>> names;
    std::unique_ptr<StreamRecorder<SelectedSoundTracksChange>> changes;
    std::unique_ptr<StreamRecorder<std::optional<Mix>>> selectedMixes;

    AnalyticsRecorder analytics;
    /// The messages of the collection's logged assertions since the last `analytics.clear()`.
    std::vector<std::string> assertions() const {
        std::vector<std::string> found;
        for (const auto& record : analytics.assertions("SomnaraKit/SoundTracksCollection")) {
            found.push_back(record.message.value_or(""));
        }
        return found;
    }
};

} // namespace somnara::test
