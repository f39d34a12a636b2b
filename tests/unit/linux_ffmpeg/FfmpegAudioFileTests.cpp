#include "linux/ffmpeg/ITunSmpb.hpp"
#include "support/AudioFileContents.hpp"
#include "support/FileContents.hpp"
#include "support/TemporaryDirectory.hpp"

#include <somnara/linux/ffmpeg/FfmpegAudioFile.hpp>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <soundgen/Encoder.hpp>
#include <soundgen/Synth.hpp>

#include <cmath>
#include <fstream>
#include <numbers>

namespace somnara {
namespace {

using soundgen::Codec;
using soundgen::Stereo;
using ::testing::AllOf;
using ::testing::HasSubstr;

// A loop of 16-bit values (as the generator writes): tones and a little noise in each channel, the
// right channel different from the left. Little noise, because AAC replaces noise by other noise.
Stereo testLoop(std::size_t frames, double rate) {
    Stereo loop{soundgen::Signal(frames), soundgen::Signal(frames)};
    soundgen::Rng rng(7);
    // Whole cycles in the loop, so that it joins itself as the sounds do.
    const auto tone = [&](double hz, std::size_t i) {
        const double cycles = std::max(1.0, std::round(hz * static_cast<double>(frames) / rate));
        return std::sin(2 * std::numbers::pi * cycles * static_cast<double>(i) / static_cast<double>(frames));
    };
    for (std::size_t i = 0; i < frames; ++i) {
        const double left = 0.3 * tone(441, i) + 0.1 * tone(3000, i) + 0.002 * rng.gaussian();
        const double right = 0.25 * tone(660, i) + 0.002 * rng.gaussian();
        loop.left[i] = static_cast<float>(std::round(left * 32768) / 32768);
        loop.right[i] = static_cast<float>(std::round(right * 32768) / 32768);
    }
    return loop;
}

// RMS of decoded[i] - source[i + shift] over the frames both have.
double rmsDifference(const std::vector<float>& decoded, const soundgen::Signal& source, int shift) {
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t i = 4; i + 4 < decoded.size(); ++i) {
        const double d =
            decoded[i] - source[static_cast<std::size_t>(static_cast<std::ptrdiff_t>(i) + shift)];
        sum += d * d;
        ++count;
    }
    return std::sqrt(sum / static_cast<double>(count));
}

class FfmpegAudioFileTest : public ::testing::Test {
protected:
    test::TemporaryDirectory scratch{"somnara-ffmpeg"};
};

TEST_F(FfmpegAudioFileTest, DecodesExactLengthsAndTheSameSamplesWhateverThePiecesAndSeeks) {
    struct Case {
        Codec codec;
        int rate;
        std::size_t frames;
    };
    // Lengths on and off the codecs' frame grid (AAC 1024, ALAC 4096), and one shorter than a frame.
    const Case cases[] = {
        {Codec::alac, 44'100, 44'100},   {Codec::alac, 48'000, 48'000 + 333},
        {Codec::alac, 44'100, 4096 * 3}, {Codec::alac, 48'000, 700},
        {Codec::aac, 44'100, 44'100},    {Codec::aac, 48'000, 48'000 + 333},
        {Codec::aac, 44'100, 1024 * 40}, {Codec::aac, 48'000, 700},
        {Codec::aac, 44'100, 1025},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.codec == Codec::aac ? "aac " : "alac ") << c.rate << " Hz, "
                                          << c.frames << " frames");
        // The content decides, not the extension.
        const auto path = scratch / "length.wav";
        const Stereo loop = testLoop(c.frames, c.rate);
        soundgen::writeM4a(path, loop, c.rate, c.codec);
        const auto file = openAudioFile(path);
        EXPECT_EQ(file->length(), static_cast<std::int64_t>(c.frames));
        EXPECT_EQ(file->processingFormat(), (AudioFormat{static_cast<double>(c.rate), 2}));
        const test::AudioFileContents decoded = test::readToEnd(*file, 1000);
        ASSERT_EQ(decoded.left.size(), c.frames);
        EXPECT_EQ(file->framePosition(), file->length());
        // The same whatever the piece size, and after seeks forward, backward, to the very end and back
        // to the start.
        for (const std::size_t chunk : {1UL, 7UL, 1023UL, 4097UL, 100'000UL}) {
            const test::AudioFileContents pieces = test::readToEnd(*openAudioFile(path), chunk);
            EXPECT_EQ(std::tie(pieces.left, pieces.right), std::tie(decoded.left, decoded.right))
                << "pieces of " << chunk;
        }
        const auto frames = static_cast<std::int64_t>(c.frames);
        for (const std::int64_t target : {frames / 2, 3L, frames - 1, frames, 0L, frames / 3}) {
            file->seek(target);
            ASSERT_EQ(file->framePosition(), target);
            const test::AudioFileContents rest = test::readToEnd(*file, 4000);
            ASSERT_EQ(rest.left.size(), c.frames - static_cast<std::size_t>(target));
            EXPECT_TRUE(std::equal(rest.left.begin(), rest.left.end(), decoded.left.begin() + target))
                << "after seeking to " << target;
        }
        EXPECT_THROW(file->seek(frames + 1), AudioFileError);
        EXPECT_THROW(file->seek(-1), AudioFileError);
        if (c.codec == Codec::alac) {
            EXPECT_EQ(decoded.left, loop.left);
            EXPECT_EQ(decoded.right, loop.right);
        } else {
            // Lossy, but the same signal in the same place: the decoded audio matches the source best
            // with no shift at all, and clearly better than with a shift of one or two samples (by less
            // in a file of one or two codec frames, where the encoder's error is largest).
            const double aligned = rmsDifference(decoded.left, loop.left, 0);
            for (const int shift : {-2, -1, 1, 2}) {
                EXPECT_LT(aligned * 2, rmsDifference(decoded.left, loop.left, shift)) << "shift " << shift;
            }
        }
    }
}

TEST_F(FfmpegAudioFileTest, BadFilesThrowADescriptiveError) {
    const auto valid = scratch / "valid.m4a";
    soundgen::writeM4a(valid, testLoop(20'000, 44'100), 44'100, Codec::aac);
    const auto bytes = test::fileContents(valid);
    const auto write = [&](const std::string& name, const std::string& content) {
        const auto path = scratch / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    };
    std::filesystem::create_directories(scratch / "folder.m4a");
    struct Case {
        std::filesystem::path path;
        std::string reason;
    };
    const Case cases[] = {
        {scratch / "missing.m4a", "no such file"},
        {write("empty.m4a", ""), "empty"},
        {write("text.m4a", "These are the notes for the meeting, not a sound.\n"),
         "not a readable audio container"},
        {write("random.m4a", std::string(5000, '\x5a')), "not a readable audio container"},
        {write("header-cut.m4a", bytes.substr(0, 200)), "holds no audio stream"},
        {scratch / "folder.m4a", "not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.filename().string());
        try {
            FfmpegAudioFile file(c.path);
            ADD_FAILURE() << "opened";
        } catch (const AudioFileError& error) {
            EXPECT_THAT(error.what(), AllOf(HasSubstr(c.path.filename().string()), HasSubstr(c.reason)));
        }
    }
    // The header is first, so a file cut in its audio opens; reading then reports the missing audio.
    for (const double kept : {0.3, 0.9, 0.999}) {
        SCOPED_TRACE(kept);
        const auto path = write("cut.m4a", bytes.substr(0, static_cast<std::size_t>(bytes.size() * kept)));
        try {
            FfmpegAudioFile file(path);
            EXPECT_EQ(file.length(), 20'000);
            test::readToEnd(file, 4096);
            ADD_FAILURE() << "read a cut file to its end";
        } catch (const AudioFileError& error) {
            EXPECT_THAT(error.what(), HasSubstr("cut.m4a"));
        }
    }
}

TEST(ITunSmpb, ParsesTheLengthFieldAndRejectsMalformedTags) {
    using LengthAndPriming = std::optional<std::pair<std::int64_t, std::int64_t>>;
    const std::pair<const char*, LengthAndPriming> cases[] = {
        {" 00000000 00000840 000001CA 00000000003F1A36 00000000 00000000", {{0x3F1A36, 0x840}}},
        {"00000000 00000400 00000158 000000000006BAA8", {{0x6BAA8, 0x400}}},
        {" 00000000 00000400", std::nullopt},
        {" 00000000 0000040G 00000158 000000000006BAA8", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        const auto parsed = ffmpeg::parseITunSmpb(text);
        EXPECT_EQ((parsed ? LengthAndPriming{{parsed->length, parsed->priming}} : std::nullopt), expected)
            << text;
    }
}

} // namespace
} // namespace somnara
