#include "SelectionSession.hpp"

#include <somnara/catalogue/SoundTracksStore.hpp>
#include <somnara/library/SoundTrackFavouritesStore.hpp>
#include <somnara/library/SoundTrackMixesStore.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/Task.hpp>
#include <somnara/selection/SoundTracksCollection.hpp>
#include <somnara/settings/NoisePlayerSettingsStore.hpp>

#include <algorithm>
#include <cctype>
#include <exception>
#include <stdexcept>
#include <vector>

namespace somnara::app {

void runWithCollection(
    const SyncFolderOption& syncFolder,
    std::function<asio::awaitable<void>(std::shared_ptr<SoundTracksCollection>)> operation) {
    RealLoop loop;
    syncFolder.install();
    auto settings = NoisePlayerSettingsStore::make();
    auto mixes = std::make_shared<SoundTrackMixesStore>();
    auto favourites = SoundTrackFavouritesStore::shared();
    std::shared_ptr<SoundTracksCollection> collection;
    std::exception_ptr failure;
    spawn([&]() -> asio::awaitable<void> {
        try {
            // A collection made before the mixes are loaded would match the selection against none.
            co_await mixes->waitUntilLoaded();
            co_await favourites->waitUntilLoaded();
            const auto& cases = SoundTrack::allCases();
            collection = SoundTracksCollection::make(std::vector<SoundTrack>(cases.begin(), cases.end()),
                                                     favourites, mixes, settings);
            co_await collection->waitForFollowUps();
            auto work = operation(collection);
            co_await std::move(work);
            co_await collection->waitForFollowUps();
        } catch (...) {
            failure = std::current_exception();
        }
        loop.stop();
    });
    loop.run();
    // The settings store saves in a task of its own: let what has already started finish before the
    // process ends, so that the next invocation sees the result.
    loop.context().restart();
    while (loop.context().poll() > 0) {
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

} // namespace somnara::app
