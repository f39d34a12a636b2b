#include "Commands.hpp"
#include "DaemonClient.hpp"
#include "SomnaraBus.hpp"
#include "SyncFolder.hpp"

#include <somnara/foundation/Json.hpp>
#include <somnara/platform/UserDefaults.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/Task.hpp>
#include <somnara/settings/NoisePlayerSettingsStore.hpp>
#include <somnara/settings/SettingsField.hpp>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>
#include <functional>
#include <iomanip>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace somnara::app {

namespace {

using Change = std::function<NoisePlayerSettings(NoisePlayerSettings)>;

/// Applies `change` through the settings store, waits for its save and checks that the user defaults
/// on disk now hold it; returns the settings written. What `change` throws leaves everything as it was.
NoisePlayerSettings changeSettings(const Change& change) {
    // A running daemon owns the settings: the change goes to it, so that it is heard at once and not
    // overwritten by the daemon's next save. The change is made and checked here, before it is sent.
    NoisePlayerSettings sent;
    if (onDaemon(SyncFolderOption{}, [&](DaemonClient& daemon) {
            std::string text;
            daemon.call(bus::settingsInterface, "Get", std::tuple{}, text);
            sent = change(NoisePlayerSettings::fromJSON(nlohmann::json::parse(text)));
            daemon.call(bus::settingsInterface, "Set", std::tuple{somnara::json::dump(sent.toJSON())});
        })) {
        return sent;
    }
    RealLoop loop;
    const auto store = NoisePlayerSettingsStore::make();
    NoisePlayerSettings written;
    std::exception_ptr failure;
    spawn([&]() -> asio::awaitable<void> {
        try {
            auto updating = store->update(change);
            written = co_await std::move(updating);
            const bool saved = co_await store->waitForSave();
            if (!saved) {
                throw std::runtime_error("the settings could not be encoded, so nothing was saved");
            }
        } catch (...) {
            failure = std::current_exception();
        }
        loop.stop();
    });
    loop.run();
    if (failure) {
        std::rethrow_exception(failure);
    }
    // The user defaults keep a change they could not write in memory; read the file afresh to know.
    UserDefaults::resetShared();
    const auto stored = UserDefaults::standard()->data(NoisePlayerSettingsStore::userDefaultsKey);
    const auto text = written.encode();
    if (!stored || !std::equal(stored->begin(), stored->end(), text.begin(), text.end())) {
        throw std::runtime_error("the settings could not be saved (see the log for why)");
    }
    return written;
}

NoisePlayerSettings currentSettings() {
    RealLoop loop;
    return NoisePlayerSettingsStore::make()->currentSettings();
}

void printFields(const NoisePlayerSettings& settings,
                 const std::function<bool(const SettingsField&)>& shown) {
    for (const auto& field : SettingsField::all()) {
        if (!shown(field)) {
            continue;
        }
        auto value = field.valueText(settings);
        if (!field.unit.empty()) {
            value += " " + field.unit;
        }
        std::cout << "  " << std::left << std::setw(26) << field.path << std::setw(30) << value
                  << field.allowedText() << "  " << field.description << '\n';
    }
}

void printReadable(const NoisePlayerSettings& settings) {
    const auto isFade = [](const SettingsField& field) { return field.path.starts_with("fadeTiming."); };
    std::cout << "Sound settings" << (settings.soundSettings.isDefault() ? " (the defaults)" : "") << ":\n";
    printFields(settings, [&](const SettingsField& field) {
        return !isFade(field) && field.kind != SettingsField::Kind::flag;
    });
    std::cout << "Fade timings:\n";
    printFields(settings, isFade);
    std::cout << "Playback:\n";
    printFields(settings, [](const SettingsField& field) { return field.kind == SettingsField::Kind::flag; });
}

SoundSettings::Preset presetNamed(const std::string& name) {
    std::string names;
    for (const auto preset : SoundSettings::allPresets) {
        if (presetName(preset) == name) {
            return preset;
        }
        names += (names.empty() ? "" : ", ") + std::string(presetName(preset));
    }
    throw std::invalid_argument("no preset is called '" + name + "': choose one of " + names);
}

/// "NAME=VALUE" as a change of that field; refused before anything is written.
Change assignment(const std::string& text) {
    const auto equals = text.find('=');
    if (equals == std::string::npos) {
        throw std::invalid_argument("'" + text + "' is not NAME=VALUE");
    }
    const auto name = text.substr(0, equals);
    const auto field = SettingsField::named(name);
    if (!field) {
        throw std::invalid_argument("no setting is called '" + name +
                                    "': `somnara settings` lists them (eq.0 to eq.9 are the bands)");
    }
    return [field = *field, value = text.substr(equals + 1)](NoisePlayerSettings settings) {
        return field.changed(std::move(settings), value);
    };
}

} // namespace

void addSettingsCommand(CLI::App& app) {
    auto* command = app.add_subcommand("settings", "Show or change the sound settings and fade timings");
    auto json = std::make_shared<bool>(false);
    command->add_flag("--json", *json, "The whole stored settings record, as JSON");
    command->require_subcommand(0, 1);

    auto* set = command->add_subcommand("set", "Change settings: NAME=VALUE..., all or none");
    auto assignments = std::make_shared<std::vector<std::string>>();
    set->add_option("SETTINGS", *assignments,
                    "NAME=VALUE: a field path (speed, delay.mix, eq.3, fadeTiming.start, ...) and its value")
        ->required();
    auto* preset = command->add_subcommand("preset", "Replace the sound settings with a preset");
    auto presetNameText = std::make_shared<std::string>();
    preset
        ->add_option("NAME", *presetNameText, "default, distant, echo, bassBoost, lowPass, highPass or slow")
        ->required();
    auto* reset = command->add_subcommand("reset", "Put every sound setting, or the one called NAME, back");
    auto resetName = std::make_shared<std::string>();
    reset->add_option("NAME", *resetName,
                      "A field path or a group (equalizerGainLevels, delay, fadeTiming...)");

    command->callback([command, json] {
        if (!command->get_subcommands().empty()) {
            return;
        }
        const auto settings = currentSettings();
        if (*json) {
            std::cout << settings.encode() << '\n';
        } else {
            printReadable(settings);
        }
    });
    set->callback([assignments] {
        std::vector<Change> changes;
        for (const auto& text : *assignments) {
            changes.push_back(assignment(text));
        }
        printReadable(changeSettings([changes](NoisePlayerSettings settings) {
            for (const auto& change : changes) {
                settings = change(std::move(settings));
            }
            return settings;
        }));
    });
    preset->callback([presetNameText] {
        const auto chosen = SoundSettings::soundSettings(presetNamed(*presetNameText));
        printReadable(changeSettings(
            [chosen](const NoisePlayerSettings& settings) { return settings.withSoundSettings(chosen); }));
    });
    reset->callback([resetName] {
        const auto name = *resetName;
        printReadable(changeSettings([name](NoisePlayerSettings settings) {
            if (name.empty()) {
                return settings.withSoundSettings(SoundSettings::defaultValue());
            }
            return SettingsField::reset(std::move(settings), name);
        }));
    });
}

} // namespace somnara::app
