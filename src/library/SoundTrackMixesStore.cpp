#include "SyncedSet.hpp"

#include <somnara/foundation/Json.hpp>
#include <somnara/foundation/StringScore.hpp>
#include <somnara/library/SoundTrackFavouritesStore.hpp>
#include <somnara/library/SoundTrackMixesStore.hpp>

#include <algorithm>
#include <exception>
#include <utility>

namespace somnara {

SoundTrackMixesStore::SoundTrackMixesStore()
    : SoundTrackMixesStore(CloudStore::shared(), SoundTrackFavouritesStore::openAppGroupUserDefaults()) {}

SoundTrackMixesStore::SoundTrackMixesStore(std::shared_ptr<CloudStore> cloudStore,
                                           std::shared_ptr<UserDefaults> userDefaults)
    : cloudStore_(std::move(cloudStore)), userDefaults_(std::move(userDefaults)),
      synced_(std::make_unique<library::SyncedSet>(cloudStore_, sourceFile, userDefaultsKey)),
      mixesSubject_(AsyncCurrentValueSubject<Mix::Set>::make(Mix::Set{})) {
    spawn([this, alive = std::weak_ptr<int>(lifetime_)]() -> asio::awaitable<void> {
        if (!alive.expired()) {
            setup();
        }
        co_return;
    });
}

SoundTrackMixesStore::~SoundTrackMixesStore() {
    if (cloudObservationTask_) {
        cloudObservationTask_->cancel();
    }
}

void SoundTrackMixesStore::setup() {
    Mix::Set mixes;
    try {
        mixes = load();
    } catch (const std::exception& error) {
        // Set aside, and the store goes on from the sync folder's copy: a set rebuilt from nothing must
        // not replace an intact one on every device.
        if (const auto data = userDefaults_->data(userDefaultsKey)) {
            synced_->keepUnreadable(*userDefaults_, *data, error, "the local copy", "setup()", 49);
            userDefaults_->removeObject(userDefaultsKey);
        }
    }
    mixesSubject_->send(std::move(mixes));
    auto snapshots = cloudStore_->dictionarySubject()->subscribe();
    cloudObservationTask_ =
        spawn([weak = weak_from_this(), snapshots = std::move(snapshots)]() mutable -> asio::awaitable<void> {
            // Held for as long as the task runs: the app keeps the store for its life anyway.
            const auto self = weak.lock();
            if (!self) {
                co_return;
            }
            while (auto snapshot = co_await snapshots.next()) {
                if (!snapshot->empty() && snapshot->contains(userDefaultsKey)) {
                    self->applyCloudSnapshot(*snapshot);
                }
                self->synced_->noteSnapshotHandled(*snapshot);
            }
        });
}

void SoundTrackMixesStore::applyCloudSnapshot(const CloudStore::Dictionary& snapshot) {
    const auto& data = snapshot.at(userDefaultsKey);
    Mix::Set mixes;
    try {
        mixes = decode(data);
    } catch (const std::exception& error) {
        synced_->keepUnreadable(*userDefaults_, data, error, "the sync folder's copy", "setup()", 41);
        return;
    }
    // The cloud's set replaces the local one whole: no merge by identifier or name.
    mixesSubject_->send(std::move(mixes));
    userDefaults_->set(UserDefaultsValue::Data(data), userDefaultsKey);
}

Mix::Set SoundTrackMixesStore::load() const {
    const auto data = userDefaults_->data(userDefaultsKey);
    if (!data) {
        return {};
    }
    return decode(*data);
}

asio::awaitable<void> SoundTrackMixesStore::save(Mix::Set soundTracks) {
    const auto data = encode(soundTracks);
    userDefaults_->set(UserDefaultsValue::Data(data), userDefaultsKey);
    auto upload = cloudStore_->set(data, userDefaultsKey);
    co_await std::move(upload);
}

asio::awaitable<void> SoundTrackMixesStore::add(Mix mix) {
    return synced_->change(
        *mixesSubject_, [mix = std::move(mix)](Mix::Set& mixes) { mixes.insert(mix); },
        [this](Mix::Set mixes) { return save(std::move(mixes)); }, "add(mix:)", 106);
}

asio::awaitable<void> SoundTrackMixesStore::remove(Mix mix) {
    return synced_->change(
        *mixesSubject_,
        [name = mix.name()](Mix::Set& mixes) {
            std::erase_if(mixes, [&](const Mix& saved) { return saved.name() == name; });
        },
        [this](Mix::Set mixes) { return save(std::move(mixes)); }, "delete(mix:)", 117);
}

asio::awaitable<std::optional<Mix>> SoundTrackMixesStore::mixMatching(Mix mix) {
    const auto mixes = mixesSubject_->currentValue();
    const auto found = std::find_if(mixes.begin(), mixes.end(), [&](const Mix& saved) {
        return saved.hasSameSoundsAndVolumeLevels(mix);
    });
    co_return found == mixes.end() ? std::nullopt : std::optional<Mix>{*found};
}

asio::awaitable<std::optional<Mix>> SoundTrackMixesStore::mixWithName(std::string name) {
    const auto mixes = mixesSubject_->currentValue();
    const auto found =
        std::find_if(mixes.begin(), mixes.end(), [&](const Mix& saved) { return saved.name() == name; });
    co_return found == mixes.end() ? std::nullopt : std::optional<Mix>{*found};
}

asio::awaitable<std::optional<Mix>> SoundTrackMixesStore::mixWithIdentifier(std::string identifier) {
    const auto mixes = mixesSubject_->currentValue();
    const auto found = std::find_if(mixes.begin(), mixes.end(),
                                    [&](const Mix& saved) { return saved.identifier() == identifier; });
    co_return found == mixes.end() ? std::nullopt : std::optional<Mix>{*found};
}

asio::awaitable<std::vector<Mix>> SoundTrackMixesStore::searchMultiple(std::string term) {
    std::vector<std::pair<double, Mix>> kept;
    if (!term.empty()) {
        for (const auto& mix : mixesSubject_->currentValue()) {
            // Scored once per mix: the score is a pure function, so sorting on it gives the order that
            // rescoring at every comparison would.
            const auto value = score(mix.name(), term, 0.5);
            if (value > searchThreshold) {
                kept.emplace_back(value, mix);
            }
        }
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<Mix> found;
    for (auto& [value, mix] : kept) {
        found.push_back(std::move(mix));
    }
    co_return found;
}

asio::awaitable<std::optional<Mix>> SoundTrackMixesStore::search(std::string term) {
    auto searching = searchMultiple(std::move(term));
    auto found = co_await std::move(searching);
    if (found.empty()) {
        co_return std::nullopt;
    }
    co_return std::move(found.front());
}

CloudData SoundTrackMixesStore::encode(const Mix::Set& mixes) {
    auto array = nlohmann::json::array();
    for (const auto& mix : mixes) {
        array.push_back(nlohmann::json(mix));
    }
    const auto text = json::dump(array);
    return CloudData(text.begin(), text.end());
}

Mix::Set SoundTrackMixesStore::decode(const CloudData& data) {
    const auto array = json::parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    if (!array.is_array()) {
        throw json::DecodingError("mixes: expected an array of mixes");
    }
    Mix::Set mixes;
    for (const auto& element : array) {
        mixes.insert(element.get<Mix>());
    }
    return mixes;
}

} // namespace somnara

namespace somnara {

asio::awaitable<void> SoundTrackMixesStore::waitUntilLoaded() {
    return synced_->waitUntilLoaded();
}

} // namespace somnara
