#include "Commands.hpp"
#include "DaemonClient.hpp"
#include "SoundLookup.hpp"
#include "SyncFolder.hpp"

#include <somnara/catalogue/SoundTrack.hpp>
#include <somnara/foundation/StringScore.hpp>
#include <somnara/library/SoundTrackFavouritesStore.hpp>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace somnara::app {

namespace {

asio::awaitable<void>
whenLoaded(std::shared_ptr<SoundTrackFavouritesStore> store,
           std::function<asio::awaitable<void>(std::shared_ptr<SoundTrackFavouritesStore>)> operation) {
    co_await store->waitUntilLoaded();
    auto work = operation(store);
    co_await std::move(work);
}

/// Runs `operation` once the favourites are loaded, and returns when it has finished (the store has
/// written both copies by then).
void runWithFavourites(
    const SyncFolderOption& syncFolder, Access access,
    std::function<asio::awaitable<void>(std::shared_ptr<SoundTrackFavouritesStore>)> operation) {
    std::shared_ptr<SoundTrackFavouritesStore> store;
    runSynced(syncFolder, access, [&] {
        store = SoundTrackFavouritesStore::shared();
        return whenLoaded(store, operation);
    });
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
        runWithFavourites(*syncFolder, Access::reads,
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
        if (!onDaemon(*syncFolder, [&](DaemonClient& daemon) {
                daemon.call(bus::favouritesInterface, "Add", std::tuple{*sound});
            })) {
            runWithFavourites(
                *syncFolder, Access::changes,
                [soundTrack = soundNamed(*sound)](std::shared_ptr<SoundTrackFavouritesStore> store) {
                    return store->add(soundTrack);
                });
        }
        const auto soundTrack = soundNamed(*sound);
        std::cout << soundTrack.name() << " is a favourite.\n";
    });
    remove->callback([syncFolder, sound] {
        if (!onDaemon(*syncFolder, [&](DaemonClient& daemon) {
                daemon.call(bus::favouritesInterface, "Remove", std::tuple{*sound});
            })) {
            runWithFavourites(
                *syncFolder, Access::changes,
                [soundTrack = soundNamed(*sound)](std::shared_ptr<SoundTrackFavouritesStore> store) {
                    return store->remove(soundTrack);
                });
        }
        const auto soundTrack = soundNamed(*sound);
        std::cout << soundTrack.name() << " is no longer a favourite.\n";
    });
}

} // namespace somnara::app
