#include "CollectionFixture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace somnara::test {
namespace {

using Set = SoundTrackSet;
using Change = SelectedSoundTracksChange;
constexpr auto single = SelectionMode::single;
constexpr auto multiple = SelectionMode::multiple;

class SessionTest : public CollectionTest {};

// One scripted session, every published value in order: a change in the order or the content of what is
// published shows up here. Each step runs until the loop is idle, as separate taps would.
TEST_F(SessionTest, EveryPublishedValueOfAScriptedSession) {
    const Mix evening("E", "Evening", {{SoundTrack::rain, 0.5f}, {SoundTrack::fan, 0.8f}});
    run([&] { return mixes->add(evening); });
    start(selecting({SoundTrack::rain}, multiple));
    StreamRecorder<float> fanVolumes(collection->volumeSubject(SoundTrack::fan));

    run([&] { return collection->add(SoundTrack::fan); });
    run([&] { return collection->add(SoundTrack::wind); });
    // The sound that survives the switch is the set's first, and the others go in the set's order.
    const auto& three = collection->selectedSoundTracks();
    const std::vector<SoundTrack> order(three.begin(), three.end());
    ASSERT_EQ(order.size(), 3u);
    const auto survivor = order[0];
    run([&] { return collection->setSelectionMode(single); });
    ASSERT_EQ(collection->selectedSoundTracks(), Set{survivor});
    // The same mode again publishes nothing.
    run([&] { return collection->setSelectionMode(single); });
    run([&] { return collection->select(evening); });
    run([&] { return collection->setVolume(0.3f, SoundTrack::fan); });

    EXPECT_EQ(modes->values, (std::vector{single, multiple, single, multiple}));

    // Follow-ups repeat a name; what matters is the order in which names change.
    std::vector<std::string> distinctNames;
    std::unique_copy(names->values.begin(), names->values.end(), std::back_inserter(distinctNames));
    EXPECT_EQ(distinctNames, (std::vector<std::string>{"", "Rain", "Fan & Rain", "3 Sounds Selected",
                                                       survivor.name(), "Evening", "Fan & Rain"}));

    const Set all{SoundTrack::rain, SoundTrack::fan, SoundTrack::wind};
    const std::vector<Change> expectedChanges{
        Change{},
        Change{Set{}, Set{SoundTrack::rain}},
        Change{Set{SoundTrack::rain}, Set{SoundTrack::rain, SoundTrack::fan}},
        Change{Set{SoundTrack::rain, SoundTrack::fan}, all},
        // Each removal's follow-up runs after both removals: it sends its own old set with the
        // selection as it is by then.
        Change{all, Set{survivor}},
        Change{Set{survivor, order[2]}, Set{survivor}},
        Change{Set{survivor}, Set{SoundTrack::rain, SoundTrack::fan}},
    };
    EXPECT_EQ(changes->values, expectedChanges);

    std::vector<std::optional<std::string>> mixes;
    for (const auto& mix : selectedMixes->values) {
        const auto identifier = mix ? std::optional(mix->identifier()) : std::nullopt;
        if (mixes.empty() || mixes.back() != identifier) {
            mixes.push_back(identifier);
        }
    }
    EXPECT_EQ(mixes, (std::vector<std::optional<std::string>>{std::nullopt, "E", std::nullopt}));
    EXPECT_EQ(fanVolumes.values, (std::vector<float>{1.0f, 0.3f}));

    // The record holds the selection, the mode and the mix's volumes with fan's change; the rest is
    // untouched.
    EXPECT_EQ(persisted(), selecting({SoundTrack::rain, SoundTrack::fan}, multiple,
                                     {{SoundTrack::rain, 0.5f}, {SoundTrack::fan, 0.3f}}));
    EXPECT_TRUE(assertions().empty());
}

// Two operations that interleave at the stores never lose each other's settings change.
TEST_F(SessionTest, InterleavedChangesKeepEveryField) {
    start(selecting({SoundTrack::rain}, multiple));

    run([&]() -> asio::awaitable<void> {
        auto first = spawn([&] { return collection->setVolume(0.6f, SoundTrack::fan); });
        auto second = spawn([&] { return collection->setVolume(0.7f, SoundTrack::wind); });
        auto third = spawn([&] { return collection->setSelectionMode(single); });
        co_await first.value();
        co_await second.value();
        co_await third.value();
    });
    run([&] { return collection->waitForFollowUps(); });

    const auto stored = persisted();
    EXPECT_EQ(stored.soundTracksMixVolume,
              (NoisePlayerSettings::MixVolumes{{SoundTrack::fan, 0.6f}, {SoundTrack::wind, 0.7f}}));
    EXPECT_EQ(stored.selectionMode, single);
    EXPECT_EQ(stored.currentSoundTracks, collection->selectedSoundTracks());
    EXPECT_EQ(collection->selectedSoundTracks().size(), 1u);
}

} // namespace
} // namespace somnara::test
