#include <somnara/foundation/AtomicFile.hpp>
#include <somnara/foundation/Bundle.hpp>
#include <somnara/foundation/ContentHash.hpp>
#include <somnara/linux/cairo/CairoImageRenderer.hpp>
#include <somnara/runtime/AsyncStream.hpp>

#include <cairo.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace somnara {

namespace {

struct Colour {
    double red = 0;
    double green = 0;
    double blue = 0;
};

/// One command of an icon's path, in grid units.
struct PathCommand {
    char command;
    std::array<double, 6> arguments{};
};

std::size_t argumentCount(char command) {
    switch (command) {
    case 'M':
    case 'L':
        return 2;
    case 'C':
        return 6;
    case 'O':
    case 'D':
        return 3;
    case 'Z':
        return 0;
    default:
        throw std::runtime_error(std::string("unknown path command '") + command + "'");
    }
}

std::vector<PathCommand> parsePath(const std::string& text) {
    std::vector<PathCommand> commands;
    std::istringstream tokens(text);
    std::string token;
    while (tokens >> token) {
        PathCommand command{token[0], {}};
        const auto count = argumentCount(command.command);
        // The first number may be written against the command letter ("M6.5 14").
        std::string rest = token.substr(1);
        for (std::size_t i = 0; i < count; ++i) {
            if (rest.empty() && !(tokens >> rest)) {
                throw std::runtime_error("a path command lacks numbers: " + text);
            }
            command.arguments[i] = std::stod(rest);
            rest.clear();
        }
        commands.push_back(command);
    }
    return commands;
}

Colour parseColour(const std::string& hex) {
    if (hex.size() != 7 || hex[0] != '#') {
        throw std::runtime_error("a colour is not #RRGGBB: " + hex);
    }
    const auto channel = [&](std::size_t at) { return std::stoi(hex.substr(at, 2), nullptr, 16) / 255.0; };
    return {channel(1), channel(3), channel(5)};
}

std::string commandOutput(const char* command) {
    std::string output;
    if (FILE* pipe = ::popen(command, "r")) {
        std::array<char, 256> buffer{};
        while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) {
            output += buffer.data();
        }
        ::pclose(pipe);
    }
    return output;
}

} // namespace

struct CairoImageRenderer::Resources {
    double iconSize = 0;
    double grid = 0;
    double strokeWidth = 0;
    std::array<Colour, 2> background;
    std::array<Colour, 2> foreground;
    std::map<std::string, std::vector<PathCommand>, std::less<>> icons;

    explicit Resources(const std::filesystem::path& file) {
        std::ifstream stream(file);
        if (!stream) {
            throw std::runtime_error("cannot read the artwork resources " + file.string());
        }
        const auto json = nlohmann::json::parse(stream);
        iconSize = json.at("iconSize").get<double>();
        grid = json.at("grid").get<double>();
        strokeWidth = json.at("strokeWidth").get<double>();
        const auto& colours = json.at("colours");
        for (const auto appearance : {Appearance::light, Appearance::dark}) {
            const char* key = appearance == Appearance::light ? "light" : "dark";
            const auto index = static_cast<std::size_t>(appearance);
            background[index] = parseColour(colours.at("NowPlayingBackground").at(key).get<std::string>());
            foreground[index] = parseColour(colours.at("NowPlayingForeground").at(key).get<std::string>());
        }
        for (const auto& [name, path] : json.at("icons").items()) {
            icons.emplace(name, parsePath(path.get<std::string>()));
        }
    }
};

CairoImageRenderer::CairoImageRenderer(std::filesystem::path directory, std::filesystem::path artworkFile,
                                       AppearanceSource appearanceSource)
    : directory_(std::move(directory)), resources_(std::make_unique<const Resources>(artworkFile)),
      appearanceSource_(std::move(appearanceSource)) {}

CairoImageRenderer::CairoImageRenderer()
    : CairoImageRenderer(defaultDirectory(),
                         Bundle::module().resourcesDirectory() / "NowPlaying" / "Artwork.json",
                         desktopAppearance) {}

CairoImageRenderer::~CairoImageRenderer() {
    referenceFollower_.cancel();
}

std::filesystem::path CairoImageRenderer::defaultDirectory() {
    std::filesystem::path cache;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg == '/') {
        cache = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        cache = std::filesystem::path(home) / ".cache";
    } else {
        cache = std::filesystem::temp_directory_path();
    }
    return cache / "somnara" / "artwork";
}

Appearance CairoImageRenderer::desktopAppearance() {
    if (const char* theme = std::getenv("GTK_THEME"); theme != nullptr) {
        return std::string_view(theme).ends_with(":dark") ? Appearance::dark : Appearance::light;
    }
    // "'prefer-dark'", "'prefer-light'" or "'default'"; nothing where GNOME's settings are absent.
    const auto scheme = commandOutput("gsettings get org.gnome.desktop.interface color-scheme 2>/dev/null");
    return scheme.find("prefer-dark") != std::string::npos ? Appearance::dark : Appearance::light;
}

Appearance CairoImageRenderer::appearance() const {
    return appearanceSource_();
}

double CairoImageRenderer::iconWidth(const std::string& icon) const {
    return resources_->icons.contains(icon) ? resources_->iconSize : 0.0;
}

std::filesystem::path CairoImageRenderer::render(double width, double height, Appearance appearance,
                                                 const std::vector<IconPlacement>& icons) {
    const auto& r = *resources_;
    const auto index = static_cast<std::size_t>(appearance);
    const std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(std::lround(width)),
                                   static_cast<int>(std::lround(height))),
        cairo_surface_destroy);
    const std::unique_ptr<cairo_t, decltype(&cairo_destroy)> context(cairo_create(surface.get()),
                                                                     cairo_destroy);
    cairo_t* cr = context.get();
    const auto& background = r.background[index];
    cairo_set_source_rgb(cr, background.red, background.green, background.blue);
    cairo_paint(cr);
    const auto& foreground = r.foreground[index];
    cairo_set_source_rgb(cr, foreground.red, foreground.green, foreground.blue);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (const auto& placement : icons) {
        const auto icon = r.icons.find(placement.icon);
        if (icon == r.icons.end()) {
            continue;
        }
        cairo_save(cr);
        cairo_translate(cr, placement.x, placement.y);
        cairo_scale(cr, r.iconSize / r.grid, r.iconSize / r.grid);
        cairo_set_line_width(cr, r.strokeWidth);
        std::vector<const PathCommand*> dots;
        cairo_new_path(cr);
        for (const auto& command : icon->second) {
            const auto& a = command.arguments;
            switch (command.command) {
            case 'M':
                cairo_move_to(cr, a[0], a[1]);
                break;
            case 'L':
                cairo_line_to(cr, a[0], a[1]);
                break;
            case 'C':
                cairo_curve_to(cr, a[0], a[1], a[2], a[3], a[4], a[5]);
                break;
            case 'Z':
                cairo_close_path(cr);
                break;
            case 'O':
                cairo_new_sub_path(cr);
                cairo_arc(cr, a[0], a[1], a[2], 0, 2 * std::numbers::pi);
                cairo_close_path(cr);
                break;
            default:
                dots.push_back(&command);
                break;
            }
        }
        cairo_stroke(cr);
        for (const auto* dot : dots) {
            cairo_arc(cr, dot->arguments[0], dot->arguments[1], dot->arguments[2], 0, 2 * std::numbers::pi);
            cairo_fill(cr);
        }
        cairo_restore(cr);
    }
    cairo_surface_flush(surface.get());

    std::string png;
    const auto status = cairo_surface_write_to_png_stream(
        surface.get(),
        [](void* closure, const unsigned char* data, unsigned int length) {
            static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
            return CAIRO_STATUS_SUCCESS;
        },
        &png);
    if (status != CAIRO_STATUS_SUCCESS) {
        throw std::runtime_error(std::string("cannot encode the artwork: ") + cairo_status_to_string(status));
    }
    auto path = directory_ / (contentHashHex(png) + ".png");
    // The same picture has the same name: a file already there holds exactly these bytes.
    if (!std::filesystem::exists(path)) {
        std::error_code error;
        std::filesystem::create_directories(directory_, error);
        writeFileAtomically(path, png);
    }
    drawn_[path] = ++drawCount_;
    return path;
}

void CairoImageRenderer::removeUnreferencedImages(NowPlayingInfoCenter& center) {
    referenceFollower_.cancel();
    referenceFollower_ =
        spawn([this, infos = center.nowPlayingInfoSubject()->subscribe()]() mutable -> asio::awaitable<void> {
            while (const auto info = co_await infos.next()) {
                if (*info && (*info)->artwork) {
                    removeAllBut((*info)->artwork->image);
                }
            }
        });
}

void CairoImageRenderer::removeAllBut(const std::filesystem::path& shown) {
    const auto drawn = drawn_.find(shown);
    if (drawn == drawn_.end()) {
        return;
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory_, error)) {
        const auto& path = entry.path();
        if (path.extension() != ".png" || path == shown) {
            continue;
        }
        if (const auto other = drawn_.find(path); other != drawn_.end()) {
            if (other->second > drawn->second) {
                continue;
            }
            drawn_.erase(other);
        }
        std::filesystem::remove(path, error);
    }
}

} // namespace somnara
