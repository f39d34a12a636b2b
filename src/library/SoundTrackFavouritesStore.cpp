#include "ReflectedDescription.hpp"

#include <somnara/foundation/Json.hpp>
#include <somnara/library/SoundTrackFavouritesStore.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <algorithm>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace somnara {

using library::reflectedDescription;

std::shared_ptr<SoundTrackFavouritesStore> SoundTrackFavouritesStore::shared() {
    // Never destroyed, like the cloud store it follows.
    static std::once_flag once;
    static std::shared_ptr<SoundTrackFavouritesStore>* instance = nullptr;
    std::call_once(once,
                   [] { instance = new std::shared_ptr(std::make_shared<SoundTrackFavouritesStore>()); });
    return *instance;
}

std::shared_ptr<UserDefaults> SoundTrackFavouritesStore::openAppGroupUserDefaults() {
    try {
        return UserDefaults::suite(UserDefaults::appGroupSuiteName);
    } catch (const std::exception&) {
        return UserDefaults::standard();
    }
}

SoundTrackFavouritesStore::SoundTrackFavouritesStore()
    : SoundTrackFavouritesStore(CloudStore::shared(), &SoundTrackFavouritesStore::openAppGroupUserDefaults) {}

SoundTrackFavouritesStore::SoundTrackFavouritesStore(std::shared_ptr<CloudStore> cloudStore,
                                                     UserDefaultsOpener openUserDefaults)
    : cloudStore_(std::move(cloudStore)), openUserDefaults_(std::move(openUserDefaults)),
      favouritesSubject_(AsyncCurrentValueSubject<Favourites>::make(Favourites{})) {
    spawn([this, alive = std::weak_ptr<int>(lifetime_)]() -> asio::awaitable<void> {
        if (!alive.expired()) {
            setup();
        }
        co_return;
    });
}

SoundTrackFavouritesStore::~SoundTrackFavouritesStore() {
    if (cloudObservationTask_) {
        cloudObservationTask_->cancel();
    }
}

void SoundTrackFavouritesStore::setup() {
    Favourites favourites;
    try {
        favourites = load();
    } catch (const std::exception& error) {
        // The bad copy stays until the next change overwrites it; meanwhile the cloud is not followed.
        ZelAnalyticsLogger::shared().loggedAssertionFailure(reflectedDescription(error), sourceFile,
                                                            "setup()", 41);
        loadedSubject_->send(true);
        return;
    }
    favouritesSubject_->send(std::move(favourites));
    auto snapshots = cloudStore_->dictionarySubject()->subscribe();
    cloudObservationTask_ =
        spawn([weak = weak_from_this(), snapshots = std::move(snapshots)]() mutable -> asio::awaitable<void> {
            while (auto snapshot = co_await snapshots.next()) {
                auto self = weak.lock();
                if (!self) {
                    continue;
                }
                std::map<std::string, CloudValue> dictionary;
                for (const auto& [key, data] : *snapshot) {
                    dictionary.emplace(key, CloudValue{data});
                }
                auto handling = self->handleNewCloudDictionary(std::move(dictionary));
                co_await std::move(handling);
                self->noteSnapshotHandled(*snapshot);
            }
        });
}

SoundTrackFavouritesStore::Favourites SoundTrackFavouritesStore::load() const {
    const auto data = openUserDefaults_()->data(userDefaultsKey);
    if (!data) {
        return {};
    }
    return decode(*data);
}

asio::awaitable<void> SoundTrackFavouritesStore::save(Favourites soundTracks) {
    const auto data = encode(soundTracks);
    storeLocally(data);
    auto upload = cloudStore_->set(data, userDefaultsKey);
    co_await std::move(upload);
}

asio::awaitable<void> SoundTrackFavouritesStore::add(SoundTrack favourite) {
    auto favourites = favouritesSubject_->currentValue();
    favourites.insert(favourite);
    favouritesSubject_->send(favourites);
    try {
        auto saving = save(std::move(favourites));
        co_await std::move(saving);
    } catch (const std::exception& error) {
        ZelAnalyticsLogger::shared().loggedAssertionFailure(reflectedDescription(error), sourceFile,
                                                            "add(favourite:)", 67);
    }
}

asio::awaitable<void> SoundTrackFavouritesStore::remove(SoundTrack favourite) {
    auto favourites = favouritesSubject_->currentValue();
    favourites.erase(favourite);
    favouritesSubject_->send(favourites);
    try {
        auto saving = save(std::move(favourites));
        co_await std::move(saving);
    } catch (const std::exception& error) {
        ZelAnalyticsLogger::shared().loggedAssertionFailure(reflectedDescription(error), sourceFile,
                                                            "delete(favourite:)", 79);
    }
}

asio::awaitable<void>
SoundTrackFavouritesStore::handleNewCloudDictionary(std::map<std::string, CloudValue> dictionary) {
    if (dictionary.empty()) {
        co_return;
    }
    const auto entry = dictionary.find(userDefaultsKey);
    if (entry == dictionary.end() || !std::holds_alternative<CloudData>(entry->second)) {
        co_return;
    }
    const auto& data = std::get<CloudData>(entry->second);
    Favourites favourites;
    try {
        favourites = decode(data);
    } catch (const std::exception& error) {
        ZelAnalyticsLogger::shared().loggedAssertionFailure(reflectedDescription(error), sourceFile,
                                                            "handleNewCloudDictionary(_:)", 55);
        co_return;
    }
    // The cloud's copy replaces the local set whole; nothing is written back to the cloud.
    favouritesSubject_->send(std::move(favourites));
    storeLocally(data);
}

void SoundTrackFavouritesStore::storeLocally(const CloudData& data) const {
    openUserDefaults_()->set(UserDefaultsValue::Data(data), userDefaultsKey);
}

CloudData SoundTrackFavouritesStore::encode(const Favourites& favourites) {
    std::vector<std::int64_t> rawValues;
    for (const auto& soundTrack : favourites) {
        rawValues.push_back(soundTrack.rawValue());
    }
    std::sort(rawValues.begin(), rawValues.end());
    const auto text = json::dump(nlohmann::json(rawValues));
    return CloudData(text.begin(), text.end());
}

SoundTrackFavouritesStore::Favourites SoundTrackFavouritesStore::decode(const CloudData& data) {
    const auto array = json::parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    if (!array.is_array()) {
        throw json::DecodingError("favourites: expected an array of sound tracks");
    }
    Favourites favourites;
    for (const auto& element : array) {
        favourites.insert(element.get<SoundTrack>());
    }
    return favourites;
}

} // namespace somnara

namespace somnara {

asio::awaitable<void> SoundTrackFavouritesStore::waitUntilLoaded() {
    auto loaded = loadedSubject_->subscribe();
    while (auto value = co_await loaded.next()) {
        if (*value) {
            co_return;
        }
    }
}

void SoundTrackFavouritesStore::noteSnapshotHandled(const CloudStore::Dictionary& snapshot) {
    // The first snapshot may be the cloud store's initial empty one; loaded means the store's content.
    if (!loadedSubject_->currentValue() && cloudStore_->isObserving() &&
        snapshot == cloudStore_->dictionarySubject()->currentValue()) {
        loadedSubject_->send(true);
    }
}

} // namespace somnara
