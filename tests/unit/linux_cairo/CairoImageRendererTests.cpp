#include "support/TemporaryDirectory.hpp"
#include "support/TestLoop.hpp"

#include <somnara/linux/cairo/CairoImageRenderer.hpp>
#include <somnara/system/NowPlayingImageFactory.hpp>

#include <cairo.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace somnara {
namespace {

const std::filesystem::path artworkFile =
    std::filesystem::path(SOMNARA_SOURCE_DIR) / "resources" / "NowPlaying" / "Artwork.json";

/// A PNG read back: width, height and 0xRRGGBB pixels.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    explicit Picture(const std::filesystem::path& path) {
        auto* surface = cairo_image_surface_create_from_png(path.c_str());
        EXPECT_EQ(cairo_surface_status(surface), CAIRO_STATUS_SUCCESS) << path;
        width = cairo_image_surface_get_width(surface);
        height = cairo_image_surface_get_height(surface);
        const auto* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        for (int y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
            for (int x = 0; x < width; ++x) {
                pixels.push_back(row[x] & 0xFFFFFF);
            }
        }
        cairo_surface_destroy(surface);
    }
    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    /// The square of `side` pixels whose top left corner is (x, y).
    std::vector<std::uint32_t> block(int x, int y, int side) const {
        std::vector<std::uint32_t> block;
        for (int row = y; row < y + side; ++row) {
            for (int column = x; column < x + side; ++column) {
                block.push_back(at(column, row));
            }
        }
        return block;
    }
};

std::uint32_t colourFromResources(const char* name, const char* appearance) {
    std::ifstream stream(artworkFile);
    const auto hex = nlohmann::json::parse(stream).at("colours").at(name).at(appearance).get<std::string>();
    return static_cast<std::uint32_t>(std::stoul(hex.substr(1), nullptr, 16));
}

class ArtworkTest : public test::LoopTest {
protected:
    test::TemporaryDirectory directory{"somnara-artwork"};
    Appearance appearance = Appearance::light;
    std::shared_ptr<CairoImageRenderer> renderer =
        std::make_shared<CairoImageRenderer>(directory.path(), artworkFile, [this] { return appearance; });
    NowPlayingImageFactory factory{renderer};

    std::filesystem::path image(const NowPlayingImageFactory::SoundTrackSet& tracks) {
        const auto path = run([&]() { return factory.getNowPlayingImage(tracks); });
        EXPECT_TRUE(path && std::filesystem::exists(*path));
        return path.value_or(std::filesystem::path{});
    }
};

// The layout's two worked examples, checked on the pixels: each icon's square must hold exactly the
// picture of that sound drawn alone (so position and name order are both right), and the space around
// and between the icons is background.
TEST_F(ArtworkTest, IconsSitWhereTheLayoutPutsThemInNameOrder) {
    struct Case {
        NowPlayingImageFactory::SoundTrackSet tracks;
        int size;
        std::vector<std::pair<SoundTrack, int>> iconsAtX;
        int y;
    };
    const Case cases[] = {
        {{SoundTrack::rain}, 200, {{SoundTrack::rain, 50}}, 50},
        {{SoundTrack::waves, SoundTrack::rain, SoundTrack::fan},
         450,
         {{SoundTrack::fan, 50}, {SoundTrack::rain, 175}, {SoundTrack::waves, 300}},
         175},
    };
    const auto background = colourFromResources("NowPlayingBackground", "light");
    for (const auto& c : cases) {
        const Picture picture(image(c.tracks));
        ASSERT_EQ(picture.width, c.size);
        ASSERT_EQ(picture.height, c.size);
        std::set<int> iconColumns;
        for (const auto& [track, x] : c.iconsAtX) {
            const Picture alone(image({track}));
            EXPECT_EQ(picture.block(x, c.y, 100), alone.block(50, 50, 100))
                << track.englishName() << " at " << x;
            for (int column = x; column < x + 100; ++column) {
                iconColumns.insert(column);
            }
        }
        for (int x = 0; x < c.size; ++x) {
            for (const int y : {0, c.y - 1, c.y + 100, c.size - 1}) {
                if (!iconColumns.contains(x) || y < c.y || y >= c.y + 100) {
                    ASSERT_EQ(picture.at(x, y), background) << "(" << x << ", " << y << ")";
                }
            }
        }
    }
}

TEST_F(ArtworkTest, ColoursFollowTheAppearanceAndNamesFollowTheContent) {
    const auto lightPath = image({SoundTrack::rain});
    const auto againPath = image({SoundTrack::rain});
    appearance = Appearance::dark;
    const auto darkPath = image({SoundTrack::rain});
    EXPECT_EQ(lightPath, againPath);
    EXPECT_NE(lightPath, darkPath);
    EXPECT_EQ(lightPath.parent_path(), directory.path());

    for (const auto& [path, name] : {std::pair{lightPath, "light"}, std::pair{darkPath, "dark"}}) {
        const Picture picture(path);
        const std::set<std::uint32_t> colours(picture.pixels.begin(), picture.pixels.end());
        EXPECT_EQ(picture.at(0, 0), colourFromResources("NowPlayingBackground", name));
        EXPECT_TRUE(colours.contains(colourFromResources("NowPlayingForeground", name))) << name;
    }
    EXPECT_EQ(factory.cachedLayoutCount(), 1U);
    image({SoundTrack::rain, SoundTrack::fan});
    image({SoundTrack::fan, SoundTrack::rain});
    EXPECT_EQ(factory.cachedLayoutCount(), 2U);
}

// A sound whose picture name has no icon would silently give an empty, zero-size artwork.
TEST_F(ArtworkTest, EverySoundHasAnIconOfItsOwn) {
    std::set<std::vector<std::uint32_t>> pictures;
    for (const auto& track : SoundTrack::allCases()) {
        ASSERT_EQ(renderer->iconWidth(std::string(track.imageResource())), 100.0) << track.imageResource();
        pictures.insert(Picture(image({track})).pixels);
    }
    EXPECT_EQ(pictures.size(), SoundTrack::count);
}

} // namespace
} // namespace somnara
