#include "CollectionFixture.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace somnara::test {
namespace {

using Set = SoundTrackSet;
constexpr auto single = SelectionMode::single;
constexpr auto multiple = SelectionMode::multiple;

class SelectionTest : public CollectionTest {};

// Every change of the selection: what it returns, what is left, what is stored and published.
TEST_F(SelectionTest, AddRemoveAndToggleNeverEmptyTheSelection) {
    using Action = std::function<asio::awaitable<bool>(SoundTracksCollection&)>;
    const auto add = [](SoundTrack s) {
        return Action([s](SoundTracksCollection& c) -> asio::awaitable<bool> {
            co_await c.add(s);
            co_return true;
        });
    };
    const auto remove = [](SoundTrack s) {
        return Action([s](SoundTracksCollection& c) { return c.remove(s); });
    };
    const auto toggle = [](SoundTrack s) {
        return Action([s](SoundTracksCollection& c) -> asio::awaitable<bool> {
            co_await c.toggle(s);
            co_return true;
        });
    };
    const SoundTrack rain = SoundTrack::rain, fan = SoundTrack::fan, owl = SoundTrack::owl;
    struct Case {
        const char* name;
        Set selected;
        SelectionMode mode;
        Action action;
        bool result;
        Set expected;
    };
    const std::vector<Case> cases{
        {"add in single mode replaces", {rain}, single, add(fan), true, {fan}},
        {"add in multiple mode adds", {rain}, multiple, add(fan), true, {rain, fan}},
        {"the last sound stays", {rain}, multiple, remove(rain), false, {rain}},
        {"remove one of two", {rain, fan}, multiple, remove(rain), true, {fan}},
        // Reported as removable; nothing changes.
        {"remove an unselected sound", {rain, fan}, multiple, remove(owl), true, {rain, fan}},
        {"toggle off", {rain, fan}, multiple, toggle(fan), true, {rain}},
        {"toggle off the last", {rain}, multiple, toggle(rain), true, {rain}},
        {"toggle on", {rain}, multiple, toggle(owl), true, {rain, owl}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start(selecting(c.selected, c.mode));
        const auto changesBefore = changes->values.size();
        EXPECT_EQ(run([&] { return c.action(*collection); }), c.result);
        EXPECT_EQ(collection->selectedSoundTracks(), c.expected);
        EXPECT_EQ(persisted().currentSoundTracks, c.expected);
        EXPECT_EQ(changes->values.size(), changesBefore + (c.expected == c.selected ? 0 : 1));
        if (c.expected != c.selected) {
            EXPECT_EQ(changes->values.back(), (SelectedSoundTracksChange{c.selected, c.expected}));
        }
    }
}

TEST_F(SelectionTest, NextAndPreviousWalkTheRingAndCollapseToSingleMode) {
    struct Case {
        Set selected;
        SelectionMode mode;
        bool forward;
        SoundTrack expected;
    };
    const std::vector<Case> cases{
        {{SoundTrack::train}, single, true, SoundTrack::whiteNoise},
        {{SoundTrack::whiteNoise}, single, false, SoundTrack::train},
        // Fan's name sorts before rain's, so the walk starts from fan.
        {{SoundTrack::fan, SoundTrack::rain}, multiple, true, SoundTrack::womb},
        {{SoundTrack::fan, SoundTrack::rain}, multiple, false, SoundTrack::thunder},
        // Ordered by name, not by raw value: "Air Traffic Control" (48) comes before "Brown Noise" (0).
        {{SoundTrack::whiteNoise, SoundTrack::airtraffic}, multiple, true, SoundTrack::train},
    };
    for (const auto& [selected, mode, forward, expected] : cases) {
        SCOPED_TRACE(expected.name());
        start(selecting(selected, mode));

        run([&] { return forward ? collection->selectNext() : collection->selectPrevious(); });

        EXPECT_EQ(collection->selectedSoundTracks(), Set{expected});
        EXPECT_EQ(collection->selectionMode(), single);
        EXPECT_EQ(persisted(), selecting({expected}, single));
        EXPECT_EQ(names->values.back(), expected.name());
    }
    EXPECT_TRUE(assertions().empty());
}

TEST_F(SelectionTest, AnEmptySelectionIsReportedAndNextAndPreviousLeaveIt) {
    // Nothing selected: the persisted selection was empty.
    start(selecting({}, single));
    // Named by the start-up, by the selection's follow-up and by the (empty) mix's follow-up.
    EXPECT_EQ(assertions().size(), 3U);
    EXPECT_EQ(assertions()[0], "The should be at least one soundtrack selected");
    analytics.clear();
    run([&] { return collection->selectNext(); });
    run([&] { return collection->selectPrevious(); });
    EXPECT_EQ(assertions().size(), 2U);
    EXPECT_TRUE(collection->selectedSoundTracks().empty());
}

TEST_F(SelectionTest, FavouritesAreSavedWithAnEventAndDeletedWithout) {
    start(selecting({SoundTrack::rain}, single));

    run([&] { return collection->saveFavourite(SoundTrack::fan); });
    run([&] { return collection->saveFavourite(SoundTrack::whiteNoise); });
    EXPECT_TRUE(run([&] { return collection->isFavourite(SoundTrack::fan); }));
    EXPECT_FALSE(run([&] { return collection->isFavourite(SoundTrack::rain); }));
    const auto rest = run([&] { return collection->allSoundTracksExcludingFavourites(); });
    ASSERT_EQ(rest.size(), 48u);
    EXPECT_EQ(rest.front(), SoundTrack::jungle);
    EXPECT_TRUE(std::is_sorted(rest.begin(), rest.end(),
                               [](SoundTrack a, SoundTrack b) { return a.rawValue() < b.rawValue(); }));
    EXPECT_EQ(std::count(rest.begin(), rest.end(), SoundTrack::fan), 0);

    run([&] { return collection->deleteFavourite(SoundTrack::fan); });
    EXPECT_FALSE(run([&] { return collection->isFavourite(SoundTrack::fan); }));
    const auto events = analytics.events();
    ASSERT_EQ(events.size(), 2u);
    for (const auto& event : events) {
        EXPECT_EQ(event.name, "favourited_sound");
        EXPECT_FALSE(event.parameters.has_value());
    }
}

} // namespace
} // namespace somnara::test
