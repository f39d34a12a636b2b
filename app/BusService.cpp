#include "BusService.hpp"

#include "SelectionOperations.hpp"
#include "SomnaraBus.hpp"
#include "SoundLookup.hpp"
#include "StatsJson.hpp"
#include "SyncFolder.hpp"

#include <somnara/foundation/Json.hpp>
#include <somnara/runtime/Sleep.hpp>
#include <somnara/runtime/StreamOperators.hpp>
#include <somnara/stats/UserCalendar.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace somnara::app {

namespace {

using Volumes = std::map<std::string, double>;
/// A saved mix on the bus: identifier, name, and each sound's volume by identifier.
using MixEntry = sdbus::Struct<std::string, std::string, Volumes>;

/// Throws when a write failed since `failedBefore` writes had failed, once the settings' pending save
/// is done: like the command line, the bus answers a change that was not saved with an error.
asio::awaitable<void> requireSaved(std::shared_ptr<NoisePlayerSettingsStore> settings,
                                   std::size_t failedBefore) {
    auto saving = settings->waitForSave();
    co_await std::move(saving);
    if (failedWriteCount() > failedBefore) {
        throw std::runtime_error("the change was not saved");
    }
}

/// Runs `work` as a task and answers the call with its result, or with the error it threw, or with
/// the failure of a write it made. A call still running when the daemon closes its connection goes
/// unanswered.
template <class... Results, class Work>
void answer(const std::shared_ptr<BusConnection>& connection,
            std::shared_ptr<NoisePlayerSettingsStore> settings, sdbus::Result<Results...>&& call, Work work) {
    auto result = std::make_shared<sdbus::Result<Results...>>(std::move(call));
    spawn([weak = std::weak_ptr<BusConnection>(connection), settings = std::move(settings), result,
           work = std::move(work)]() mutable -> asio::awaitable<void> {
        std::optional<sdbus::Error> failure;
        try {
            const std::size_t failedBefore = failedWriteCount();
            auto running = work();
            if constexpr (sizeof...(Results) == 0) {
                co_await std::move(running);
                auto checking = requireSaved(settings, failedBefore);
                co_await std::move(checking);
                if (!weak.expired()) {
                    result->returnResults();
                }
            } else {
                auto value = co_await std::move(running);
                auto checking = requireSaved(settings, failedBefore);
                co_await std::move(checking);
                if (!weak.expired()) {
                    result->returnResults(value);
                }
            }
        } catch (const std::invalid_argument& error) {
            failure.emplace(bus::invalidArgumentError, error.what());
        } catch (const json::DecodingError& error) {
            failure.emplace(bus::invalidArgumentError, error.what());
        } catch (const std::exception& error) {
            // A reply that cannot be sent (the caller left) fails here too; answering again does no harm.
            failure.emplace(bus::failedError, error.what());
        }
        const auto bus = weak.lock();
        if (!bus) {
            co_return;
        }
        if (failure) {
            try {
                result->returnError(*failure);
            } catch (const sdbus::Error& error) {
                SomnaraLogger::log("Cannot answer a call: " + error.getMessage(), LogType::error);
            }
        }
        bus->flush();
    });
}

std::vector<SoundTrack> soundsNamed(const std::vector<std::string>& names) {
    std::vector<SoundTrack> soundTracks;
    for (const auto& name : names) {
        soundTracks.push_back(soundNamed(name));
    }
    return soundTracks;
}

/// A state's case name, without its associated values: "downloading(progress: 0.5)" is "downloading".
std::string caseName(const std::string& description) {
    return description.substr(0, description.find('('));
}

/// The state's case name: "playing", "interrupted", "stopped", "stopping" or "sleepFadeOut".
std::string stateName(const NoisePlayerState& state) {
    return caseName(state.description());
}

bool transfersRunning(const SoundsDownloader& downloader) {
    const auto& progress = downloader.transferProgress();
    return progress.tasksCompleted < progress.tasksScheduled;
}

/// Seconds until the sleep timer ends; none while no timer runs (the subject starts at a present 0).
std::optional<double> sleepTimeRemaining(const NoisePlayer& player) {
    if (!player.sleepTimerEndDate()) {
        return std::nullopt;
    }
    return player.sleepTimeRemainingSubject()->currentValue();
}

/// The sleep timer's range, checked here as the player leaves it to its callers.
double checkedSleepDuration(double seconds) {
    if (!(seconds > NoisePlayer::sleepRange.lowerBound && seconds <= NoisePlayer::sleepRange.upperBound)) {
        char text[32];
        const auto end = std::to_chars(text, text + sizeof text, seconds).ptr;
        throw std::invalid_argument("a sleep timer lasts more than 0 s and at most 2 h (7200 s), not " +
                                    std::string(text, end) + " s");
    }
    return seconds;
}

Volumes volumesOf(const Mix& mix) {
    Volumes volumes;
    for (const auto& [soundTrack, volume] : mix.soundsAndVolumeLevels()) {
        volumes.emplace(soundTrack.identifier(), volume);
    }
    return volumes;
}

std::vector<MixEntry> entries(std::vector<Mix> mixes) {
    std::stable_sort(mixes.begin(), mixes.end());
    std::vector<MixEntry> result;
    for (const auto& mix : mixes) {
        result.emplace_back(mix.identifier(), mix.name(), volumesOf(mix));
    }
    return result;
}

} // namespace

BusService::BusService(std::shared_ptr<BusConnection> bus, std::shared_ptr<Daemon> daemon)
    : bus_(std::move(bus)), daemon_(std::move(daemon)),
      object_(sdbus::createObject(bus_->connection(), bus::objectPath)) {
    registerPlayer();
    registerSelection();
    registerMixes();
    registerFavourites();
    registerSettingsAndStatistics();
    registerDownloads();
    object_->finishRegistration();
    observe();
    observeDownloads();
}

BusService::~BusService() {
    for (const auto& task : observations_) {
        task.cancel();
    }
    transfers_.cancel();
}

void BusService::registerPlayer() {
    const auto daemon = daemon_;
    object_->registerMethod("Play")
        .onInterface(bus::playerInterface)
        .withInputParamNames("sounds")
        .implementedAs([this, daemon](sdbus::Result<>&& call, std::vector<std::string> names) {
            answer(bus_, daemon_->settingsStore, std::move(call), [daemon, names]() -> asio::awaitable<void> {
                const auto wanted = soundsNamed(names);
                if (!wanted.empty()) {
                    co_await selectExactly(daemon->collection, wanted);
                }
                auto playing = daemon->player->play(false);
                co_await playing.value();
            });
        });
    object_->registerMethod("Pause")
        .onInterface(bus::playerInterface)
        .implementedAs([this, daemon](sdbus::Result<>&& call) {
            answer(bus_, daemon_->settingsStore, std::move(call), [daemon]() -> asio::awaitable<void> {
                auto pausing = daemon->player->pause();
                co_await pausing.value();
            });
        });
    object_->registerMethod("Stop")
        .onInterface(bus::playerInterface)
        .implementedAs([this, daemon](sdbus::Result<>&& call) {
            answer(bus_, daemon_->settingsStore, std::move(call), [daemon]() -> asio::awaitable<void> {
                auto stopping =
                    daemon->player->stop(daemon->settingsStore->currentSettings().fadeTiming.stop);
                co_await stopping.value();
            });
        });
    object_->registerMethod("StartSleepTimer")
        .onInterface(bus::playerInterface)
        .withInputParamNames("seconds")
        .implementedAs([this, daemon](sdbus::Result<>&& call, double seconds) {
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [daemon, seconds]() -> asio::awaitable<void> {
                       auto starting = daemon->player->startSleepTimer(checkedSleepDuration(seconds));
                       co_await starting.value();
                   });
        });
    object_->registerMethod("CancelSleepTimer")
        .onInterface(bus::playerInterface)
        .implementedAs([this, daemon](sdbus::Result<>&& call) {
            answer(bus_, daemon_->settingsStore, std::move(call), [daemon]() -> asio::awaitable<void> {
                auto cancelling = daemon->player->cancelSleepTimer();
                co_await cancelling.value();
            });
        });
    object_->registerMethod("Status")
        .onInterface(bus::playerInterface)
        .withOutputParamNames("json")
        .implementedAs([this, daemon](sdbus::Result<std::string>&& call) {
            answer(bus_, daemon_->settingsStore, std::move(call), [daemon]() -> asio::awaitable<std::string> {
                auto status = co_await selectionStatus(daemon->collection);
                status["state"] = stateName(daemon->player->state());
                const auto remaining = sleepTimeRemaining(*daemon->player);
                status["sleepTimeRemaining"] = remaining ? nlohmann::json(*remaining) : nlohmann::json();
                status["session"] = sessionStateName(daemon->player->sessionState());
                co_return status.dump();
            });
        });
    object_->registerProperty("State").onInterface(bus::playerInterface).withGetter([daemon] {
        return stateName(daemon->player->state());
    });
    // D-Bus has no null: -1 while no timer runs.
    object_->registerProperty("SleepTimeRemaining").onInterface(bus::playerInterface).withGetter([daemon] {
        return sleepTimeRemaining(*daemon->player).value_or(-1.0);
    });
    object_->registerProperty("Session").onInterface(bus::playerInterface).withGetter([daemon] {
        return std::string(sessionStateName(daemon->player->sessionState()));
    });
}

void BusService::registerSelection() {
    const auto daemon = daemon_;
    const auto collection = daemon_->collection;
    object_->registerMethod("Select")
        .onInterface(bus::selectionInterface)
        .withInputParamNames("sounds")
        .implementedAs([this, collection](sdbus::Result<>&& call, std::vector<std::string> names) {
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [collection, names]() -> asio::awaitable<void> {
                       if (names.empty()) {
                           throw std::invalid_argument("select at least one sound");
                       }
                       co_await selectExactly(collection, soundsNamed(names));
                   });
        });
    object_->registerMethod("Add")
        .onInterface(bus::selectionInterface)
        .withInputParamNames("sound")
        .implementedAs([this, collection](sdbus::Result<>&& call, std::string name) {
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [collection, name]() { return collection->add(soundNamed(name)); });
        });
    object_->registerMethod("Remove")
        .onInterface(bus::selectionInterface)
        .withInputParamNames("sound")
        .withOutputParamNames("removed")
        .implementedAs([this, collection](sdbus::Result<bool>&& call, std::string name) {
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [collection, name]() { return collection->remove(soundNamed(name)); });
        });
    object_->registerMethod("SetMode")
        .onInterface(bus::selectionInterface)
        .withInputParamNames("mode")
        .implementedAs([this, collection](sdbus::Result<>&& call, std::string mode) {
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [collection, mode]() { return collection->setSelectionMode(selectionModeNamed(mode)); });
        });
    object_->registerMethod("SetVolume")
        .onInterface(bus::selectionInterface)
        .withInputParamNames("sound", "volume")
        .implementedAs([this, collection](sdbus::Result<>&& call, std::string name, double volume) {
            answer(bus_, daemon_->settingsStore, std::move(call), [collection, name, volume]() {
                const auto soundTrack = soundNamed(name);
                return collection->setVolume(checkedVolume(volume), soundTrack);
            });
        });
    object_->registerMethod("Next")
        .onInterface(bus::selectionInterface)
        .implementedAs([this, collection](sdbus::Result<>&& call) {
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [collection]() { return collection->selectNext(); });
        });
    object_->registerMethod("Previous")
        .onInterface(bus::selectionInterface)
        .implementedAs([this, collection](sdbus::Result<>&& call) {
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [collection]() { return collection->selectPrevious(); });
        });
    object_->registerProperty("Sounds").onInterface(bus::selectionInterface).withGetter([collection] {
        std::vector<SoundTrack> sorted(collection->selectedSoundTracks().begin(),
                                       collection->selectedSoundTracks().end());
        std::sort(sorted.begin(), sorted.end());
        std::vector<std::string> identifiers;
        for (const auto soundTrack : sorted) {
            identifiers.emplace_back(soundTrack.identifier());
        }
        return identifiers;
    });
    object_->registerProperty("Volumes").onInterface(bus::selectionInterface).withGetter([this] {
        return volumes_;
    });
    object_->registerProperty("Mode").onInterface(bus::selectionInterface).withGetter([collection] {
        return std::string(selectionModeName(collection->selectionMode()));
    });
    object_->registerProperty("Name").onInterface(bus::selectionInterface).withGetter([collection] {
        return collection->selectionNameSubject()->currentValue();
    });
    // The selected saved mix's name; empty when the selection matches none.
    object_->registerProperty("Mix").onInterface(bus::selectionInterface).withGetter([collection] {
        const auto& mix = collection->selectedMix();
        return mix ? mix->name() : std::string();
    });
}

void BusService::registerMixes() {
    const auto collection = daemon_->collection;
    const auto store = daemon_->mixesStore;
    object_->registerMethod("List")
        .onInterface(bus::mixesInterface)
        .withOutputParamNames("mixes")
        .implementedAs([store] {
            const auto& mixes = store->mixesSubject()->currentValue();
            return entries(std::vector<Mix>(mixes.begin(), mixes.end()));
        });
    object_->registerMethod("Search")
        .onInterface(bus::mixesInterface)
        .withInputParamNames("term")
        .withOutputParamNames("mixes")
        .implementedAs([this, store](sdbus::Result<std::vector<MixEntry>>&& call, std::string term) {
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [store, term]() -> asio::awaitable<std::vector<MixEntry>> {
                       auto searching = store->searchMultiple(term);
                       auto found = co_await std::move(searching);
                       std::vector<MixEntry> result;
                       for (const auto& mix : found) {
                           result.emplace_back(mix.identifier(), mix.name(), volumesOf(mix));
                       }
                       co_return result;
                   });
        });
    object_->registerMethod("Save")
        .onInterface(bus::mixesInterface)
        .withInputParamNames("name")
        .withOutputParamNames("name")
        .implementedAs([this, collection](sdbus::Result<std::string>&& call, std::string name) {
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [collection, name]() { return saveSelectionAsMix(collection, name); });
        });
    object_->registerMethod("SaveNamedBySounds")
        .onInterface(bus::mixesInterface)
        .withOutputParamNames("name")
        .implementedAs([this, collection](sdbus::Result<std::string>&& call) {
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [collection]() { return saveSelectionAsMix(collection, std::nullopt); });
        });
    object_->registerMethod("Select")
        .onInterface(bus::mixesInterface)
        .withInputParamNames("name")
        .implementedAs([this, collection](sdbus::Result<>&& call, std::string name) {
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [collection, name]() { return selectMixNamed(collection, name); });
        });
    object_->registerMethod("Delete")
        .onInterface(bus::mixesInterface)
        .withInputParamNames("name")
        .withOutputParamNames("deleted")
        .implementedAs([this, store](sdbus::Result<std::uint32_t>&& call, std::string name) {
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [store, name]() -> asio::awaitable<std::uint32_t> {
                       const auto count = co_await deleteMixesNamed(store, name);
                       co_return static_cast<std::uint32_t>(count);
                   });
        });
}

void BusService::registerFavourites() {
    const auto store = daemon_->favouritesStore;
    object_->registerMethod("Add")
        .onInterface(bus::favouritesInterface)
        .withInputParamNames("sound")
        .implementedAs([this, store](sdbus::Result<>&& call, std::string name) {
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [store, name]() { return store->add(soundNamed(name)); });
        });
    object_->registerMethod("Remove")
        .onInterface(bus::favouritesInterface)
        .withInputParamNames("sound")
        .implementedAs([this, store](sdbus::Result<>&& call, std::string name) {
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [store, name]() { return store->remove(soundNamed(name)); });
        });
    object_->registerProperty("Favourites").onInterface(bus::favouritesInterface).withGetter([store] {
        const auto& favourites = store->favouritesSubject()->currentValue();
        std::vector<SoundTrack> sorted(favourites.begin(), favourites.end());
        std::sort(sorted.begin(), sorted.end());
        std::vector<std::string> identifiers;
        for (const auto soundTrack : sorted) {
            identifiers.emplace_back(soundTrack.identifier());
        }
        return identifiers;
    });
}

void BusService::registerSettingsAndStatistics() {
    const auto settings = daemon_->settingsStore;
    object_->registerMethod("Get")
        .onInterface(bus::settingsInterface)
        .withOutputParamNames("json")
        .implementedAs([settings] { return settings->currentSettings().toJSON().dump(); });
    object_->registerMethod("Set")
        .onInterface(bus::settingsInterface)
        .withInputParamNames("json")
        .implementedAs([this, settings](sdbus::Result<>&& call, std::string text) {
            answer(bus_, daemon_->settingsStore, std::move(call), [settings, text]() {
                const auto parsed = nlohmann::json::parse(text, nullptr, false);
                if (parsed.is_discarded()) {
                    throw std::invalid_argument("the settings are not JSON");
                }
                return settings->setNoisePlayerSettings(NoisePlayerSettings::fromJSON(parsed));
            });
        });
    const auto tracker = daemon_->statsTracker;
    object_->registerMethod("Stats")
        .onInterface(bus::statisticsInterface)
        .withOutputParamNames("json")
        .implementedAs([tracker] {
            const auto calendar = UserCalendar::current();
            return statsJSON(tracker->stats(Loop::current().now()), calendar).dump();
        });
    const auto store = daemon_->statsStore;
    object_->registerMethod("LastThirtyDays")
        .onInterface(bus::statisticsInterface)
        .withOutputParamNames("seconds")
        .implementedAs([store] {
            const auto calendar = UserCalendar::current();
            const Date now = Loop::current().now();
            std::vector<PlayEvent> events;
            try {
                // No file yet is no listening yet.
                if (std::filesystem::exists(store->localDataPath())) {
                    events = store->load();
                }
            } catch (const std::exception& error) {
                throw sdbus::Error(bus::failedError,
                                   "cannot read the listening history: " + std::string(error.what()));
            }
            const auto perDay = listeningPerDay(events, now, calendar);
            // The thirty days of the statistics' lastThirtyDaysPlayedIndexes.
            constexpr std::int64_t days = 30;
            std::vector<double> seconds(days, 0.0);
            if (const auto today = calendar.dayNumber(now)) {
                for (std::int64_t ago = 0; ago < days; ++ago) {
                    const auto found = perDay.find(*today - ago);
                    seconds[static_cast<std::size_t>(days - 1 - ago)] =
                        found == perDay.end() ? 0.0 : found->second;
                }
            }
            return seconds;
        });
}

void BusService::registerDownloads() {
    const auto downloader = daemon_->soundsDownloader;
    // Answered once the transfers are scheduled; the progress follows in the properties.
    object_->registerMethod("Download")
        .onInterface(bus::downloadsInterface)
        .withOutputParamNames("scheduled")
        .implementedAs([this, downloader](sdbus::Result<std::uint32_t>&& call) {
            if (!downloader->hasBucket()) {
                throw sdbus::Error(bus::noBucketError, BucketConfiguration::noneConfiguredMessage());
            }
            answer(bus_, daemon_->settingsStore, std::move(call),
                   [this, downloader]() -> asio::awaitable<std::uint32_t> {
                       // A second synchronisation now would fetch the sounds still on their way again.
                       if (transfersRunning(*downloader)) {
                           co_return 0;
                       }
                       const auto syncing = downloader->sync();
                       const auto scheduled = co_await syncing.value();
                       if (scheduled > 0) {
                           followTransfers();
                       }
                       co_return static_cast<std::uint32_t>(scheduled);
                   });
        });
    object_->registerMethod("Clear").onInterface(bus::downloadsInterface).implementedAs([this, downloader] {
        auto clearing = downloader->clearCacheDirectory();
        changed(bus::downloadsInterface, {"Present"});
    });
    object_->registerProperty("Available").onInterface(bus::downloadsInterface).withGetter([downloader] {
        return downloader->hasBucket();
    });
    object_->registerProperty("State").onInterface(bus::downloadsInterface).withGetter([downloader] {
        return caseName(downloader->state().description());
    });
    object_->registerProperty("Present").onInterface(bus::downloadsInterface).withGetter([downloader] {
        return static_cast<std::uint32_t>(SoundTrack::allCases().size() - downloader->missingSoundsCount());
    });
    object_->registerProperty("Total").onInterface(bus::downloadsInterface).withGetter([] {
        return static_cast<std::uint32_t>(SoundTrack::allCases().size());
    });
    object_->registerProperty("Running").onInterface(bus::downloadsInterface).withGetter([downloader] {
        return transfersRunning(*downloader);
    });
    object_->registerProperty("BytesWritten").onInterface(bus::downloadsInterface).withGetter([downloader] {
        return downloader->transferProgress().bytesWritten;
    });
}

void BusService::observe() {
    const auto player = daemon_->player;
    const auto collection = daemon_->collection;
    const auto emitOn = [this](const char* interface, std::vector<std::string> properties) {
        return [this, interface, properties](auto&, const auto&) { changed(interface, properties); };
    };
    observations_.push_back(somnara::observe(player, player->stateSubject()->subscribe(),
                                             emitOn(bus::playerInterface, {"State"})));
    observations_.push_back(
        somnara::observe(player, removeDuplicates(player->sleepTimeRemainingSubject()->subscribe()),
                         emitOn(bus::playerInterface, {"SleepTimeRemaining"})));
    observations_.push_back(somnara::observe(player, player->sessionStateSubject()->subscribe(),
                                             emitOn(bus::playerInterface, {"Session"})));
    observations_.push_back(somnara::observe(collection, collection->selectionModeSubject()->subscribe(),
                                             emitOn(bus::selectionInterface, {"Mode"})));
    observations_.push_back(somnara::observe(collection, collection->selectionNameSubject()->subscribe(),
                                             emitOn(bus::selectionInterface, {"Name"})));
    observations_.push_back(somnara::observe(collection, collection->selectedMixSubject()->subscribe(),
                                             emitOn(bus::selectionInterface, {"Mix"})));
    observations_.push_back(somnara::observe(daemon_->favouritesStore,
                                             daemon_->favouritesStore->favouritesSubject()->subscribe(),
                                             emitOn(bus::favouritesInterface, {"Favourites"})));
    // The volumes of the selected sounds change with the selection and with any sound's volume.
    const auto refresh = [this](auto&, const auto&) { return refreshVolumes(); };
    observations_.push_back(somnara::observe(
        collection, collection->selectedSoundTracksSubject()->subscribe(),
        [this](SoundTracksCollection&, const SelectedSoundTracksChange&) -> asio::awaitable<void> {
            changed(bus::selectionInterface, {"Sounds"});
            co_await refreshVolumes();
        }));
    for (const auto& soundTrack : SoundTrack::allCases()) {
        observations_.push_back(
            somnara::observe(collection, collection->volumeSubject(soundTrack)->subscribe(), refresh));
    }
}

void BusService::observeDownloads() {
    const auto downloader = daemon_->soundsDownloader;
    // The state changes with every sound stored, a few dozen times in a whole download.
    observations_.push_back(somnara::observe(downloader, downloader->stateUpdates(),
                                             [this](SoundsDownloader&, const SoundsDownloader::State& state) {
                                                 changed(bus::downloadsInterface, {"State", "Present"});
                                                 // The synchronisation the downloader starts on its own is
                                                 // followed too.
                                                 if (state.kind() ==
                                                         SoundsDownloader::State::Kind::downloading &&
                                                     (!transfers_.isValid() || transfers_.isFinished())) {
                                                     followTransfers();
                                                 }
                                             }));
}

void BusService::followTransfers() {
    transfers_.cancel();
    changed(bus::downloadsInterface, {"Running"});
    transfers_ = spawn([this]() -> asio::awaitable<void> {
        // The bytes arrive continuously: a few signals a second follow them without flooding the bus.
        PeriodicTimer timer(Seconds{0.25});
        const auto downloader = daemon_->soundsDownloader;
        std::int64_t published = 0;
        while (transfersRunning(*downloader)) {
            const auto tick = co_await timer.next();
            if (!tick) {
                co_return;
            }
            if (downloader->transferProgress().bytesWritten != published) {
                published = downloader->transferProgress().bytesWritten;
                changed(bus::downloadsInterface, {"BytesWritten"});
            }
        }
        changed(bus::downloadsInterface, {"Present", "BytesWritten", "Running"});
    });
}

asio::awaitable<void> BusService::refreshVolumes() {
    Volumes volumes;
    const auto collection = daemon_->collection;
    const auto selected = collection->selectedSoundTracks();
    for (const auto soundTrack : selected) {
        const float volume = co_await collection->getVolume(soundTrack);
        volumes.emplace(soundTrack.identifier(), volume);
    }
    if (volumes != volumes_) {
        volumes_ = std::move(volumes);
        changed(bus::selectionInterface, {"Volumes"});
    }
}

void BusService::changed(const char* interface, std::vector<std::string> properties) {
    object_->emitPropertiesChangedSignal(interface, properties);
    bus_->flush();
}

} // namespace somnara::app
