#include "Commands.hpp"
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

/// A volume as the user typed it: a number from 0 to 1.
float parseVolume(const std::string& text) {
    if (text.empty()) {
        throw std::invalid_argument("VALUE is required: a number from 0 to 1");
    }
    float value = 0;
    const auto* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc{} || result.ptr != end || !(value >= 0.0f && value <= 1.0f)) {
        throw std::invalid_argument("a volume is a number from 0 to 1, not \"" + printable(text) + "\"");
    }
    return value;
}

std::string shortest(float value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

/// What `somnara status` shows: the selection as it plays now.
struct Status {
    std::string name;
    SelectionMode mode = SelectionMode::single;
    std::vector<std::pair<SoundTrack, float>> sounds;
    std::optional<Mix> mix;
};

asio::awaitable<Status> readStatus(std::shared_ptr<SoundTracksCollection> collection) {
    Status status;
    status.name = collection->selectionNameSubject()->currentValue();
    status.mode = collection->selectionMode();
    status.mix = collection->selectedMix();
    std::vector<SoundTrack> sorted(collection->selectedSoundTracks().begin(),
                                   collection->selectedSoundTracks().end());
    std::sort(sorted.begin(), sorted.end());
    for (const auto soundTrack : sorted) {
        const float volume = co_await collection->getVolume(soundTrack);
        status.sounds.emplace_back(soundTrack, volume);
    }
    co_return status;
}

void printStatus(const Status& status, bool asJSON) {
    if (asJSON) {
        auto sounds = nlohmann::json::array();
        for (const auto& [soundTrack, volume] : status.sounds) {
            sounds.push_back({{"identifier", std::string(soundTrack.identifier())},
                              {"name", soundTrack.name()},
                              {"volume", std::stod(shortest(volume))}});
        }
        nlohmann::json mix = nullptr;
        if (status.mix) {
            mix = {{"identifier", status.mix->identifier()}, {"name", status.mix->name()}};
        }
        const nlohmann::json json{{"name", status.name},
                                  {"mode", std::string(selectionModeName(status.mode))},
                                  {"sounds", std::move(sounds)},
                                  {"mix", std::move(mix)}};
        // A name from another device may not be UTF-8; JSON must be.
        std::cout << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return;
    }
    std::cout << "Selection: " << (status.name.empty() ? "(nothing selected)" : printable(status.name))
              << '\n';
    std::cout << "Mode:      " << selectionModeName(status.mode) << '\n';
    std::cout << "Mix:       " << (status.mix ? printable(status.mix->name()) : "(none)") << '\n';
    std::cout << "Sounds:\n";
    for (const auto& [soundTrack, volume] : status.sounds) {
        std::string identifier(soundTrack.identifier());
        identifier.resize(std::max<std::size_t>(identifier.size(), 16), ' ');
        std::string name = soundTrack.name();
        name.resize(std::max<std::size_t>(name.size(), 24), ' ');
        std::cout << "  " << identifier << name << shortest(volume) << '\n';
    }
}

/// Makes the selection exactly `wanted`: several sounds in multiple mode, one in single mode.
asio::awaitable<void> selectExactly(std::shared_ptr<SoundTracksCollection> collection,
                                    std::vector<SoundTrack> wanted) {
    const auto mode = wanted.size() > 1 ? SelectionMode::multiple : SelectionMode::single;
    co_await collection->setSelectionMode(mode);
    for (const auto soundTrack : wanted) {
        co_await collection->add(soundTrack);
    }
    // Then drop what was there before: removal never empties the selection, and the wanted sounds are in.
    std::vector<SoundTrack> unwanted;
    for (const auto soundTrack : collection->selectedSoundTracks()) {
        if (std::find(wanted.begin(), wanted.end(), soundTrack) == wanted.end()) {
            unwanted.push_back(soundTrack);
        }
    }
    for (const auto soundTrack : unwanted) {
        co_await collection->remove(soundTrack);
    }
}

/// One subcommand of the selection: its own `--sync-folder`, and `operation` run on the collection.
using Operation = std::function<asio::awaitable<void>(std::shared_ptr<SoundTracksCollection>)>;

/// `confirm`, when given, says what was done once the change is on disk.
CLI::App* addCommand(CLI::App& parent, const std::string& name, const std::string& description, Access access,
                     std::function<Operation()> makeOperation, std::function<void()> confirm = {}) {
    auto* command = parent.add_subcommand(name, description);
    auto syncFolder = std::make_shared<SyncFolderOption>();
    // The parent's own option (the mixes command has one) counts when this command has none.
    const auto* parentOption = parent.get_option_no_throw("--sync-folder");
    syncFolder->addTo(*command);
    command->callback([syncFolder, parentOption, access, makeOperation, confirm] {
        auto folder = *syncFolder;
        if (folder.folder.empty() && parentOption != nullptr && parentOption->count() > 0) {
            folder.folder = parentOption->as<std::string>();
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
                auto mix = co_await collection->makeMixForCurrentSelection();
                if (!saveName->empty()) {
                    mix = mix.with(*saveName);
                }
                *savedName = mix.name();
                // Arguments are named before they are awaited: g++ 12 destroys temporaries of a co_await
                // expression twice.
                auto saving = collection->saveMix(std::move(mix));
                co_await std::move(saving);
            };
        },
        [savedName] { std::cout << "Saved \"" << printable(*savedName) << "\"\n"; });
    save->add_option("NAME", *saveName, "The mix's name (by default made from its sounds)");

    auto selectName = std::make_shared<std::string>();
    auto* select = addCommand(
        *mixes, "select", "Select a saved mix: its sounds at its volumes, in multiple mode", Access::changes,
        [selectName]() -> Operation {
            requireUtf8(*selectName, "a mix's name");
            return [selectName](std::shared_ptr<SoundTracksCollection> collection) -> asio::awaitable<void> {
                auto lookup = collection->mixWithName(*selectName);
                auto mix = co_await std::move(lookup);
                if (!mix) {
                    throw std::invalid_argument("no saved mix is named \"" + printable(*selectName) + "\"");
                }
                auto selecting = collection->select(std::move(*mix));
                co_await std::move(selecting);
            };
        });
    select->add_option("NAME", *selectName, "The mix's name, exactly")->required();
}

void addSelectionCommands(CLI::App& app) {
    auto asJSON = std::make_shared<bool>(false);
    auto* status = addCommand(
        app, "status", "Show the selection: its name, mode, sounds with volumes and mix", Access::reads,
        [asJSON]() -> Operation {
            return [asJSON](std::shared_ptr<SoundTracksCollection> collection) -> asio::awaitable<void> {
                const auto current = co_await readStatus(collection);
                printStatus(current, *asJSON);
            };
        });
    status->add_flag("--json", *asJSON, "Print JSON for scripts");

    auto soundNames = std::make_shared<std::vector<std::string>>();
    auto* select = addCommand(app, "select", "Select exactly these sounds (several switch to multiple mode)",
                              Access::changes, [soundNames]() -> Operation {
                                  std::vector<SoundTrack> wanted;
                                  for (const auto& name : *soundNames) {
                                      wanted.push_back(soundNamed(name));
                                  }
                                  return [wanted](std::shared_ptr<SoundTracksCollection> collection) {
                                      return selectExactly(collection, wanted);
                                  };
                              });
    select->add_option("SOUND", *soundNames, "Identifiers or English names")->required();

    auto addName = std::make_shared<std::string>();
    auto* add = addCommand(app, "add", "Add a sound (in single mode it replaces the sound)", Access::changes,
                           [addName]() -> Operation {
                               return [soundTrack = soundNamed(*addName)](
                                          std::shared_ptr<SoundTracksCollection> collection) {
                                   return collection->add(soundTrack);
                               };
                           });
    add->add_option("SOUND", *addName, "Identifier or English name")->required();

    auto removeName = std::make_shared<std::string>();
    auto* remove = addCommand(
        app, "remove", "Remove a sound (the last one stays)", Access::changes, [removeName]() -> Operation {
            return [soundTrack = soundNamed(*removeName)](
                       std::shared_ptr<SoundTracksCollection> collection) -> asio::awaitable<void> {
                if (!collection->selectedSoundTracks().contains(soundTrack)) {
                    throw std::invalid_argument(soundTrack.name() + " is not selected");
                }
                const bool removable = co_await collection->remove(soundTrack);
                if (!removable) {
                    std::cerr << "somnara: " << soundTrack.name()
                              << " is the only sound selected and stays\n";
                }
            };
        });
    remove->add_option("SOUND", *removeName, "Identifier or English name")->required();

    auto modeName = std::make_shared<std::string>();
    auto* mode = addCommand(app, "mode", "Play one sound at a time (single) or mix several (multiple)",
                            Access::changes, [modeName]() -> Operation {
                                const auto wanted =
                                    *modeName == "single" ? SelectionMode::single : SelectionMode::multiple;
                                return [wanted](std::shared_ptr<SoundTracksCollection> collection) {
                                    return collection->setSelectionMode(wanted);
                                };
                            });
    mode->add_option("MODE", *modeName, "single or multiple")
        ->required()
        ->check(CLI::IsMember({"single", "multiple"}));

    auto volumeName = std::make_shared<std::string>();
    auto volumeText = std::make_shared<std::string>();
    auto* volume =
        addCommand(app, "volume", "Set a sound's volume in the mix (0 deselects it, above 0 selects it)",
                   Access::changes, [volumeName, volumeText]() -> Operation {
                       return [soundTrack = soundNamed(*volumeName), value = parseVolume(*volumeText)](
                                  std::shared_ptr<SoundTracksCollection> collection) {
                           return collection->setVolume(value, soundTrack);
                       };
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

    addCommand(app, "next", "Play the next sound of the catalogue alone", Access::changes, []() -> Operation {
        return [](std::shared_ptr<SoundTracksCollection> collection) { return collection->selectNext(); };
    });
    addCommand(app, "previous", "Play the previous sound of the catalogue alone", Access::changes,
               []() -> Operation {
                   return [](std::shared_ptr<SoundTracksCollection> collection) {
                       return collection->selectPrevious();
                   };
               });
}

} // namespace somnara::app
