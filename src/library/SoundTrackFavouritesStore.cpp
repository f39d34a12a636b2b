#include "SyncedSet.hpp"

#include <somnara/foundation/Json.hpp>
#include <somnara/library/SoundTrackFavouritesStore.hpp>

#include <algorithm>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

namespace somnara {

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
      synced_(std::make_unique<library::SyncedSet>(cloudStore_, sourceFile, userDefaultsKey)),
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
        // Set aside, and the store goes on from the sync folder's copy: a set rebuilt from nothing must
        // not replace an intact one on every device.
        const auto userDefaults = openUserDefaults_();
        if (const auto data = userDefaults->data(userDefaultsKey)) {
            synced_->keepUnreadable(*userDefaults, *data, error, "the local copy", "setup()", 41);
            userDefaults->removeObject(userDefaultsKey);
        }
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
                self->synced_->noteSnapshotHandled(*snapshot);
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
    return synced_->change(
        *favouritesSubject_, [favourite](Favourites& favourites) { favourites.insert(favourite); },
        [this](Favourites favourites) { return save(std::move(favourites)); }, "add(favourite:)", 67);
}

asio::awaitable<void> SoundTrackFavouritesStore::remove(SoundTrack favourite) {
    return synced_->change(
        *favouritesSubject_, [favourite](Favourites& favourites) { favourites.erase(favourite); },
        [this](Favourites favourites) { return save(std::move(favourites)); }, "delete(favourite:)", 79);
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
        synced_->keepUnreadable(*openUserDefaults_(), data, error, "the sync folder's copy",
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
    return synced_->waitUntilLoaded();
}

} // namespace somnara
