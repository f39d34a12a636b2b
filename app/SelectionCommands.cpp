#include "Commands.hpp"
#include "DaemonClient.hpp"
#include "SelectionOperations.hpp"
#include "SelectionSession.hpp"
#include "SyncFolder.hpp"
#include "TerminalText.hpp"

#include <somnara/selection/SoundTracksCollection.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace somnara::app {

namespace {

/// One subcommand of the selection: its own `--sync-folder`, and `operation` run on the collection.
/// With a daemon running, `remote` sends the command to it instead, so that the change is heard.
using Operation = std::function<asio::awaitable<void>(std::shared_ptr<SoundTracksCollection>)>;
using Remote = std::function<void(DaemonClient&)>;

/// `confirm`, when given, says what was done once the change is on disk.
CLI::App* addCommand(CLI::App& parent, const std::string& name, const std::string& description, Access access,
                     std::function<Operation()> makeOperation, Remote remote,
                     std::function<void()> confirm = {}) {
    auto* command = parent.add_subcommand(name, description);
    auto syncFolder = std::make_shared<SyncFolderOption>();
    // The parent's own option (the mixes command has one) counts when this command has none.
    const auto* parentOption = parent.get_option_no_throw("--sync-folder");
    syncFolder->addTo(*command);
    command->callback([syncFolder, parentOption, access, makeOperation, remote, confirm] {
        auto folder = *syncFolder;
        if (folder.folder.empty() && parentOption != nullptr && parentOption->count() > 0) {
            folder.folder = parentOption->as<std::string>();
        }
        if (onDaemon(folder, remote)) {
            return;
        }
        runWithCollection(folder, access, makeOperation());
        if (confirm) {
            confirm();
        }
    });
    return command;
}

} // namespace

void addMixesSelectionCommands(CLI::App& app) {
    // Beside the mixes command's own subcommands when it is there; on their own otherwise.
    CLI::App* mixes = nullptr;
    try {
        mixes = app.get_subcommand("mixes");
    } catch (const CLI::OptionNotFound&) {
    }
    if (mixes == nullptr) {
        mixes = app.add_subcommand("mixes", "Saved mixes");
        mixes->require_subcommand(1);
    }

    auto saveName = std::make_shared<std::string>();
    auto savedName = std::make_shared<std::string>();
    auto* save = addCommand(
        *mixes, "save", "Save the selection as a new mix and select it", Access::changes,
        [saveName, savedName]() -> Operation {
            requireUtf8(*saveName, "a mix's name");
            return [saveName,
                    savedName](std::shared_ptr<SoundTracksCollection> collection) -> asio::awaitable<void> {
                auto saving = saveSelectionAsMix(
                    collection, saveName->empty() ? std::nullopt : std::optional<std::string>(*saveName));
                *savedName = co_await std::move(saving);
            };
        },
        [saveName](DaemonClient& daemon) {
            requireUtf8(*saveName, "a mix's name");
            std::string name;
            if (saveName->empty()) {
                daemon.call(bus::mixesInterface, "SaveNamedBySounds", std::tuple{}, name);
            } else {
                daemon.call(bus::mixesInterface, "Save", std::tuple{*saveName}, name);
            }
            std::cout << "Saved \"" << printable(name) << "\"\n";
        },
        [savedName] { std::cout << "Saved \"" << printable(*savedName) << "\"\n"; });
    save->add_option("NAME", *saveName, "The mix's name (by default made from its sounds)");

    auto selectName = std::make_shared<std::string>();
    auto* select = addCommand(
        *mixes, "select", "Select a saved mix: its sounds at its volumes, in multiple mode", Access::changes,
        [selectName]() -> Operation {
            requireUtf8(*selectName, "a mix's name");
            return [selectName](std::shared_ptr<SoundTracksCollection> collection) {
                return selectMixNamed(collection, *selectName);
            };
        },
        [selectName](DaemonClient& daemon) {
            daemon.call(bus::mixesInterface, "Select", std::tuple{*selectName});
        });
    select->add_option("NAME", *selectName, "The mix's name, exactly")->required();
}

void addSelectionCommands(CLI::App& app) {
    auto asJSON = std::make_shared<bool>(false);
    auto* status = addCommand(
        app, "status", "Show the selection (name, mode, sounds with volumes, mix) and the player's state",
        Access::reads,
        [asJSON]() -> Operation {
            return [asJSON](std::shared_ptr<SoundTracksCollection> collection) -> asio::awaitable<void> {
                const auto current = co_await selectionStatus(collection);
                printStatus(current, *asJSON);
            };
        },
        [asJSON](DaemonClient& daemon) {
            std::string text;
            daemon.call(bus::playerInterface, "Status", std::tuple{}, text);
            printStatus(nlohmann::json::parse(text), *asJSON);
        });
    status->add_flag("--json", *asJSON, "Print JSON for scripts");

    auto soundNames = std::make_shared<std::vector<std::string>>();
    auto* select = addCommand(
        app, "select", "Select exactly these sounds (several switch to multiple mode)", Access::changes,
        [soundNames]() -> Operation {
            std::vector<SoundTrack> wanted;
            for (const auto& name : *soundNames) {
                wanted.push_back(soundNamed(name));
            }
            return [wanted](std::shared_ptr<SoundTracksCollection> collection) {
                return selectExactly(collection, wanted);
            };
        },
        [soundNames](DaemonClient& daemon) {
            daemon.call(bus::selectionInterface, "Select", std::tuple{*soundNames});
        });
    select->add_option("SOUND", *soundNames, "Identifiers or English names")->required();

    auto addName = std::make_shared<std::string>();
    auto* add = addCommand(
        app, "add", "Add a sound (in single mode it replaces the sound)", Access::changes,
        [addName]() -> Operation {
            return [soundTrack = soundNamed(*addName)](std::shared_ptr<SoundTracksCollection> collection) {
                return collection->add(soundTrack);
            };
        },
        [addName](DaemonClient& daemon) {
            daemon.call(bus::selectionInterface, "Add", std::tuple{*addName});
        });
    add->add_option("SOUND", *addName, "Identifier or English name")->required();

    auto removeName = std::make_shared<std::string>();
    const auto reportKept = [](SoundTrack soundTrack) {
        std::cerr << "somnara: " << soundTrack.name() << " is the only sound selected and stays\n";
    };
    auto* remove = addCommand(
        app, "remove", "Remove a sound (the last one stays)", Access::changes,
        [removeName, reportKept]() -> Operation {
            return [soundTrack = soundNamed(*removeName),
                    reportKept](std::shared_ptr<SoundTracksCollection> collection) -> asio::awaitable<void> {
                if (!collection->selectedSoundTracks().contains(soundTrack)) {
                    throw std::invalid_argument(soundTrack.name() + " is not selected");
                }
                const bool removable = co_await collection->remove(soundTrack);
                if (!removable) {
                    reportKept(soundTrack);
                }
            };
        },
        [removeName, reportKept](DaemonClient& daemon) {
            bool removed = false;
            daemon.call(bus::selectionInterface, "Remove", std::tuple{*removeName}, removed);
            if (!removed) {
                reportKept(soundNamed(*removeName));
            }
        });
    remove->add_option("SOUND", *removeName, "Identifier or English name")->required();

    auto modeName = std::make_shared<std::string>();
    auto* mode = addCommand(
        app, "mode", "Play one sound at a time (single) or mix several (multiple)", Access::changes,
        [modeName]() -> Operation {
            return
                [wanted = selectionModeNamed(*modeName)](std::shared_ptr<SoundTracksCollection> collection) {
                    return collection->setSelectionMode(wanted);
                };
        },
        [modeName](DaemonClient& daemon) {
            daemon.call(bus::selectionInterface, "SetMode", std::tuple{*modeName});
        });
    mode->add_option("MODE", *modeName, "single or multiple")
        ->required()
        ->check(CLI::IsMember({"single", "multiple"}));

    auto volumeName = std::make_shared<std::string>();
    auto volumeText = std::make_shared<std::string>();
    auto* volume = addCommand(
        app, "volume", "Set a sound's volume in the mix (0 deselects it, above 0 selects it)",
        Access::changes,
        [volumeName, volumeText]() -> Operation {
            return [soundTrack = soundNamed(*volumeName),
                    value = parseVolume(*volumeText)](std::shared_ptr<SoundTracksCollection> collection) {
                return collection->setVolume(value, soundTrack);
            };
        },
        [volumeName, volumeText](DaemonClient& daemon) {
            const double value = parseVolume(*volumeText);
            daemon.call(bus::selectionInterface, "SetVolume", std::tuple{*volumeName, value});
        });
    volume->add_option("SOUND", *volumeName, "Identifier or English name")->required();
    volume->add_option("VALUE", *volumeText, "A number from 0 to 1");
    // "-inf" reads as an option: taken as the value, it is refused as a volume rather than called missing.
    volume->allow_extras();
    volume->parse_complete_callback([volume, volumeText] {
        auto extras = volume->remaining();
        if (volumeText->empty() && !extras.empty()) {
            *volumeText = extras.front();
            extras.erase(extras.begin());
        }
        if (!extras.empty()) {
            throw CLI::ExtrasError(extras);
        }
    });

    addCommand(
        app, "next", "Play the next sound of the catalogue alone", Access::changes,
        []() -> Operation {
            return [](std::shared_ptr<SoundTracksCollection> collection) { return collection->selectNext(); };
        },
        [](DaemonClient& daemon) { daemon.call(bus::selectionInterface, "Next", std::tuple{}); });
    addCommand(
        app, "previous", "Play the previous sound of the catalogue alone", Access::changes,
        []() -> Operation {
            return [](std::shared_ptr<SoundTracksCollection> collection) {
                return collection->selectPrevious();
            };
        },
        [](DaemonClient& daemon) { daemon.call(bus::selectionInterface, "Previous", std::tuple{}); });
}

} // namespace somnara::app
