#include "LibraryFixture.hpp"
#include "support/TemporaryDirectory.hpp"

#include <somnara/library/SoundTrackFavouritesStore.hpp>
#include <somnara/library/SoundTrackMixesStore.hpp>
#include <somnara/linux/cloud/FolderCloudKeyValueStore.hpp>
#include <somnara/runtime/NotificationCenter.hpp>

#include <chrono>
#include <filesystem>

using namespace somnara;
using namespace somnara::test;
using namespace std::chrono_literals;

namespace {

/// The library's stores as one device has them: its own user defaults and notification centre, and
/// the sync folder that all devices share.
class Device {
public:
    Device(VirtualLoop& loop, const std::filesystem::path& syncFolder,
           const std::filesystem::path& defaultsFile)
        : loop_(loop), cloud(FolderCloudKeyValueStore::make(syncFolder, &center)),
          cloudStore(CloudStore::make(cloud, &center)),
          defaults(std::make_shared<FileUserDefaults>(defaultsFile)),
          favourites(std::make_shared<SoundTrackFavouritesStore>(cloudStore, [this] { return defaults; })),
          mixes(std::make_shared<SoundTrackMixesStore>(cloudStore, defaults)) {}
    ~Device() {
        // Ends the stores' subscriptions so that their tasks let go before the device does.
        cloudStore->dictionarySubject()->finish();
        loop_.runUntilIdle();
    }

    std::string localFavourites() const {
        const auto data = defaults->data("sound_track_favourites");
        return data ? text(*data) : "<none>";
    }

    VirtualLoop& loop_;
    NotificationCenter center;
    std::shared_ptr<FolderCloudKeyValueStore> cloud;
    std::shared_ptr<CloudStore> cloudStore;
    std::shared_ptr<FileUserDefaults> defaults;
    std::shared_ptr<SoundTrackFavouritesStore> favourites;
    std::shared_ptr<SoundTrackMixesStore> mixes;
};

class TwoDevices : public LoopTest {
protected:
    bool waitFor(const std::function<bool()>& condition) { return loop.runUntil(condition, 2000ms); }

    TemporaryDirectory directory{"somnara-devices"};
    Device phone{loop, directory / "sync", directory / "phone.json"};
    Device laptop{loop, directory / "sync", directory / "laptop.json"};
};

TEST_F(TwoDevices, FavouritesAndMixesReachTheOtherDeviceThroughItsExternalChange) {
    loop.runUntilIdle();
    StreamRecorder phoneSnapshots{phone.cloudStore->dictionarySubject()};
    loop.runUntilIdle();
    const auto snapshotsAtStart = phoneSnapshots.values.size();

    run([&] { return phone.favourites->add(SoundTrack::rain); });
    ASSERT_TRUE(waitFor([&] {
        return laptop.favourites->favouritesSubject()->currentValue() ==
               SoundTrackFavouritesStore::Favourites{SoundTrack::rain};
    }));
    EXPECT_EQ(laptop.localFavourites(), "[3]") << "the laptop's local copy follows too";

    run([&] { return laptop.favourites->remove(SoundTrack::rain); });
    run([&] { return laptop.favourites->add(SoundTrack::fan); });
    ASSERT_TRUE(waitFor([&] {
        return phone.favourites->favouritesSubject()->currentValue() ==
               SoundTrackFavouritesStore::Favourites{SoundTrack::fan};
    }));
    EXPECT_EQ(phone.localFavourites(), "[5]");

    // The phone's own write came before the laptop's in the folder's event order, so the phone has
    // seen its echo by now: had it taken it for a change from elsewhere, a snapshot would hold [3].
    ASSERT_GT(phoneSnapshots.values.size(), snapshotsAtStart);
    for (std::size_t i = snapshotsAtStart; i < phoneSnapshots.values.size(); ++i) {
        EXPECT_NE(text(phoneSnapshots.values[i].at("sound_track_favourites")), "[3]") << "snapshot " << i;
    }

    const Mix evening{"E", "Evening", {{SoundTrack::fan, 0.8F}, {SoundTrack::rain, 0.25F}}};
    run([&] { return laptop.mixes->add(evening); });
    ASSERT_TRUE(waitFor([&] { return phone.mixes->mixesSubject()->currentValue().size() == 1; }));
    EXPECT_TRUE(Mix::SameRecord{}(*phone.mixes->mixesSubject()->currentValue().begin(), evening));
    EXPECT_EQ(SoundTrackMixesStore::decode(*phone.defaults->data("sound_track_mixes")).size(), 1U);
}

} // namespace
