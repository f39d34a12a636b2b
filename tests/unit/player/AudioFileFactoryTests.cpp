#include "PlayerFixture.hpp"

#include <gtest/gtest.h>

namespace somnara::test {
namespace {

class AudioFileFactoryTest : public PlayerTest {
protected:
    std::shared_ptr<AudioFile> request(AudioFileFactory& factory, SoundTrack soundTrack) {
        return run([&]() -> asio::awaitable<std::shared_ptr<AudioFile>> {
            auto task = factory.audioFile(soundTrack);
            co_return co_await task.value();
        });
    }

    std::filesystem::path losslessPath(SoundTrack soundTrack) const {
        return losslessDirectory.path() / (std::string(soundTrack.fileName()) + ".m4a");
    }
};

// Before a download every request tries the lossless copy again and falls back to the one cached copy
// of the resources; once the download is there it is opened once and kept.
TEST_F(AudioFileFactoryTest, prefersTheLosslessCopyOnceItExistsAndOpensEachCopyOnce) {
    const auto bundled = memoryFile(SoundTrack::airConditioner);
    addBundleCopy(SoundTrack::airConditioner, bundled);
    auto factory = makeFactory();

    EXPECT_EQ(request(*factory, SoundTrack::airConditioner), bundled);
    EXPECT_EQ(request(*factory, SoundTrack::airConditioner), bundled);
    EXPECT_EQ(openCounts[losslessPath(SoundTrack::airConditioner)], 2);
    EXPECT_EQ(openCounts[bundleDirectory / "sounds" / "ac.m4a"], 1);
    EXPECT_EQ(linesStartingWith("Failed to load lossless audio file ").size(), 2U);

    const auto downloaded = memoryFile(SoundTrack::airConditioner, 441, 7);
    addLosslessCopy(SoundTrack::airConditioner, downloaded);
    EXPECT_EQ(request(*factory, SoundTrack::airConditioner), downloaded);
    EXPECT_EQ(request(*factory, SoundTrack::airConditioner), downloaded);
    EXPECT_EQ(openCounts[losslessPath(SoundTrack::airConditioner)], 3);

    // The resources' copy is still there on its own path.
    const auto bundleOnly = run([&]() -> asio::awaitable<std::shared_ptr<AudioFile>> {
        auto task = factory->audioFileFromBundleOrCache(SoundTrack::airConditioner);
        co_return co_await task.value();
    });
    EXPECT_EQ(bundleOnly, bundled);
    EXPECT_TRUE(analytics.assertions().empty());
}

// A sound with no copy anywhere gives none, and every request reports it: the assertion and the event.
TEST_F(AudioFileFactoryTest, aSoundWithNoCopyReportsEachRequest) {
    auto factory = makeFactory();
    EXPECT_EQ(request(*factory, SoundTrack::rain), nullptr);
    EXPECT_EQ(request(*factory, SoundTrack::rain), nullptr);

    const auto assertions = analytics.assertions();
    ASSERT_EQ(assertions.size(), 2U);
    EXPECT_EQ(assertions[0].message, "Failed to load audio file unableToLoadFile");
    const auto events = analytics.events();
    ASSERT_EQ(events.size(), 2U);
    EXPECT_EQ(events[0].name, "failed_to_load_audio_files");
    ASSERT_TRUE(events[0].parameters.has_value());
    ASSERT_EQ(events[0].parameters->size(), 1U);
    const auto text = events[0].parameters->at("error").get<std::string>();
    EXPECT_NE(text.find("\ndomain: SomnaraKit.AudioFileFactoryError\ncode: 1\n"), std::string::npos) << text;

    // A resource that is there but cannot be opened is reported the same way, with the opener's reason.
    addBundleCopy(SoundTrack::rain, nullptr);
    files.erase(bundleDirectory / "sounds" / "rain.m4a");
    EXPECT_EQ(request(*factory, SoundTrack::rain), nullptr);
    ASSERT_EQ(analytics.assertions().size(), 3U);
    EXPECT_EQ(analytics.assertions()[2].message,
              "Failed to load audio file The file \"rain.m4a\" couldn't be opened.");
}

} // namespace
} // namespace somnara::test
