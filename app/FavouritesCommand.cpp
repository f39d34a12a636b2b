#include "Commands.hpp"
#include "SoundLookup.hpp"
#include "SyncFolder.hpp"

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/foundation/StringScore.hpp>
#include <somnara/library/CloudStore.hpp>
#include <somnara/library/SoundTrackFavouritesStore.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/Task.hpp>

#include <algorithm>
#include <cctype>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace somnara::app {

namespace {

/// Runs `operation` on a real loop with the sync folder installed, once the favourites are loaded, and
/// returns when it has finished (the store has written both copies by then).
void runWithFavourites(
    const SyncFolderOption& syncFolder,
    std::function<asio::awaitable<void>(std::shared_ptr<SoundTrackFavouritesStore>)> operation) {
    RealLoop loop;
    syncFolder.install();
    auto store = SoundTrackFavouritesStore::shared();
    std::exception_ptr failure;
    spawn([&]() -> asio::awaitable<void> {
        try {
            co_await store->waitUntilLoaded();
            auto work = operation(store);
            co_await std::move(work);
        } catch (...) {
            failure = std::current_exception();
        }
        loop.stop();
    });
    loop.run();
    // Ends the stores' cloud subscriptions so that their tasks let go of the stores while the loop is
    // still there to run them down; the process ends next.
    CloudStore::shared()->stopObserving();
    CloudStore::shared()->dictionarySubject()->finish();
    loop.context().restart();
    while (loop.context().poll() > 0) {
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

} // namespace

void addFavouritesCommand(CLI::App& app) {
    auto* command =
        app.add_subcommand("favourites", "List, add or remove favourite sounds (shared by your devices)");
    auto syncFolder = std::make_shared<SyncFolderOption>();
    syncFolder->addTo(*command);
    command->require_subcommand(0, 1);
    command->fallthrough();

    auto* list = command->add_subcommand("list", "List the favourite sounds (the default)");
    auto* add = command->add_subcommand("add", "Make a sound a favourite");
    auto* remove = command->add_subcommand("remove", "Make a sound no longer a favourite");
    auto sound = std::make_shared<std::string>();
    add->add_option("SOUND", *sound, "The sound's identifier or name, in any case")->required();
    remove->add_option("SOUND", *sound, "The sound's identifier or name, in any case")->required();

    const auto printList = [syncFolder] {
        runWithFavourites(*syncFolder,
                          [](std::shared_ptr<SoundTrackFavouritesStore> store) -> asio::awaitable<void> {
                              const auto& favourites = store->favouritesSubject()->currentValue();
                              std::vector<SoundTrack> sorted(favourites.begin(), favourites.end());
                              std::sort(sorted.begin(), sorted.end());
                              for (const auto& soundTrack : sorted) {
                                  std::cout << soundTrack.name() << " (" << soundTrack.identifier() << ")\n";
                              }
                              if (sorted.empty()) {
                                  std::cout << "No favourites yet.\n";
                              }
                              co_return;
                          });
    };
    list->callback(printList);
    command->callback([command, printList] {
        if (command->get_subcommands().empty()) {
            printList();
        }
    });
    add->callback([syncFolder, sound] {
        const auto soundTrack = soundNamed(*sound);
        runWithFavourites(*syncFolder, [soundTrack](std::shared_ptr<SoundTrackFavouritesStore> store) {
            return store->add(soundTrack);
        });
        std::cout << soundTrack.name() << " is a favourite.\n";
    });
    remove->callback([syncFolder, sound] {
        const auto soundTrack = soundNamed(*sound);
        runWithFavourites(*syncFolder, [soundTrack](std::shared_ptr<SoundTrackFavouritesStore> store) {
            return store->remove(soundTrack);
        });
        std::cout << soundTrack.name() << " is no longer a favourite.\n";
    });
}

} // namespace somnara::app
