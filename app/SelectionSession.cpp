#include "SelectionSession.hpp"

#include <somnara/catalogue/SoundTracksStore.hpp>
#include <somnara/library/SoundTrackFavouritesStore.hpp>
#include <somnara/library/SoundTrackMixesStore.hpp>
#include <somnara/selection/SoundTracksCollection.hpp>
#include <somnara/settings/NoisePlayerSettingsStore.hpp>

#include <vector>

namespace somnara::app {

namespace {

asio::awaitable<void>
whenLoaded(std::shared_ptr<NoisePlayerSettingsStore> settings, std::shared_ptr<SoundTrackMixesStore> mixes,
           std::shared_ptr<SoundTrackFavouritesStore> favourites,
           std::function<asio::awaitable<void>(std::shared_ptr<SoundTracksCollection>)> operation) {
    // A collection made before the mixes are loaded would match the selection against none.
    co_await mixes->waitUntilLoaded();
    co_await favourites->waitUntilLoaded();
    const auto& cases = SoundTrack::allCases();
    auto collection = SoundTracksCollection::make(std::vector<SoundTrack>(cases.begin(), cases.end()),
                                                  favourites, mixes, settings);
    co_await collection->waitForFollowUps();
    auto work = operation(collection);
    co_await std::move(work);
    co_await collection->waitForFollowUps();
}

} // namespace

void runWithCollection(
    const SyncFolderOption& syncFolder, Access access,
    std::function<asio::awaitable<void>(std::shared_ptr<SoundTracksCollection>)> operation) {
    std::shared_ptr<NoisePlayerSettingsStore> settings;
    std::shared_ptr<SoundTrackMixesStore> mixes;
    std::shared_ptr<SoundTrackFavouritesStore> favourites;
    runSynced(syncFolder, access, [&] {
        settings = NoisePlayerSettingsStore::make();
        mixes = std::make_shared<SoundTrackMixesStore>();
        favourites = SoundTrackFavouritesStore::shared();
        return whenLoaded(settings, mixes, favourites, operation);
    });
}

} // namespace somnara::app
