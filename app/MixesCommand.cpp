#include "Commands.hpp"
#include "DaemonClient.hpp"
#include "SelectionOperations.hpp"
#include "SyncFolder.hpp"
#include "TerminalText.hpp"

#include <somnara/catalogue/Mix.hpp>
#include <somnara/library/SoundTrackMixesStore.hpp>

#include <algorithm>
#include <charconv>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace somnara::app {

namespace {

asio::awaitable<void>
whenLoaded(std::shared_ptr<SoundTrackMixesStore> store,
           std::function<asio::awaitable<void>(std::shared_ptr<SoundTrackMixesStore>)> operation) {
    co_await store->waitUntilLoaded();
    auto work = operation(store);
    co_await std::move(work);
}

/// Runs `operation` once the mixes are loaded, and returns when it has finished.
void runWithMixes(const SyncFolderOption& syncFolder, Access access,
                  std::function<asio::awaitable<void>(std::shared_ptr<SoundTrackMixesStore>)> operation) {
    std::shared_ptr<SoundTrackMixesStore> store;
    runSynced(syncFolder, access, [&] {
        store = std::make_shared<SoundTrackMixesStore>();
        return whenLoaded(store, operation);
    });
}

/// "Evening: Fan 0.8, Rain 1" — the sounds by name, each with its volume in its shortest form.
void printMix(const Mix& mix) {
    std::vector<std::pair<SoundTrack, float>> sounds(mix.soundsAndVolumeLevels().begin(),
                                                     mix.soundsAndVolumeLevels().end());
    std::sort(sounds.begin(), sounds.end());
    std::cout << (mix.name().empty() ? "(no name)" : printable(mix.name())) << ":";
    for (std::size_t i = 0; i < sounds.size(); ++i) {
        char volume[32];
        const auto end = std::to_chars(volume, volume + sizeof volume, sounds[i].second).ptr;
        std::cout << (i == 0 ? " " : ", ") << sounds[i].first.name() << ' ' << std::string(volume, end);
    }
    std::cout << '\n';
}

} // namespace

void addMixesCommand(CLI::App& app) {
    auto* command =
        app.add_subcommand("mixes", "List, search or delete saved mixes (shared by your devices)");
    auto syncFolder = std::make_shared<SyncFolderOption>();
    syncFolder->addTo(*command);
    command->require_subcommand(0, 1);
    command->fallthrough();

    auto* list = command->add_subcommand("list", "List the saved mixes by name (the default)");
    auto* search = command->add_subcommand("search", "Show the mixes whose name matches TERM, best first");
    auto* remove = command->add_subcommand("delete", "Delete every saved mix called NAME");
    auto term = std::make_shared<std::string>();
    search->add_option("TERM", *term, "What to look for in the names")->required();
    auto name = std::make_shared<std::string>();
    remove->add_option("NAME", *name, "The mix's name, exactly")->required();

    const auto printList = [syncFolder] {
        runWithMixes(*syncFolder, Access::reads,
                     [](std::shared_ptr<SoundTrackMixesStore> store) -> asio::awaitable<void> {
                         const auto& mixes = store->mixesSubject()->currentValue();
                         std::vector<Mix> sorted(mixes.begin(), mixes.end());
                         std::stable_sort(sorted.begin(), sorted.end());
                         for (const auto& mix : sorted) {
                             printMix(mix);
                         }
                         if (sorted.empty()) {
                             std::cout << "No saved mixes yet.\n";
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
    search->callback([syncFolder, term] {
        requireUtf8(*term, "a search term");
        runWithMixes(*syncFolder, Access::reads,
                     [term](std::shared_ptr<SoundTrackMixesStore> store) -> asio::awaitable<void> {
                         auto searching = store->searchMultiple(*term);
                         const auto found = co_await std::move(searching);
                         if (found.empty()) {
                             throw std::runtime_error("no saved mix matches \"" + printable(*term) + "\"");
                         }
                         for (const auto& mix : found) {
                             printMix(mix);
                         }
                     });
    });
    remove->callback([syncFolder, name] {
        requireUtf8(*name, "a mix's name");
        const auto report = [name](std::size_t count) {
            std::cout << "Deleted " << count << (count == 1 ? " mix" : " mixes") << " called \""
                      << printable(*name) << "\".\n";
        };
        if (onDaemon(*syncFolder, [&](DaemonClient& daemon) {
                std::uint32_t count = 0;
                daemon.call(bus::mixesInterface, "Delete", std::tuple{*name}, count);
                report(count);
            })) {
            return;
        }
        // Said only once the change is saved: a failed save exits before this.
        auto count = std::make_shared<std::size_t>(0);
        runWithMixes(*syncFolder, Access::changes,
                     [name, count](std::shared_ptr<SoundTrackMixesStore> store) -> asio::awaitable<void> {
                         *count = co_await deleteMixesNamed(store, *name);
                     });
        report(*count);
    });
}

} // namespace somnara::app
