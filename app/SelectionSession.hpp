#pragma once

#include "SoundLookup.hpp"
#include "SyncFolder.hpp"

#include <somnara/catalogue/SoundTrack.hpp>

#include <asio/awaitable.hpp>

#include <functional>
#include <memory>
#include <string>

namespace somnara {
class SoundTracksCollection;
}

namespace somnara::app {

/// Creates the stores and the collection as the app does at start, on a real loop with the sync folder
/// installed; once the stored selection, favourites and mixes are loaded runs `operation`, waits until
/// every follow-up it started has persisted, and returns. What `operation` throws is thrown from here,
/// and for a change, a write that failed.
void runWithCollection(
    const SyncFolderOption& syncFolder, Access access,
    std::function<asio::awaitable<void>(std::shared_ptr<SoundTracksCollection>)> operation);

} // namespace somnara::app
