#include "Commands.hpp"
#include "Durations.hpp"
#include "Home.hpp"
#include "MixRenderer.hpp"
#include "SoundLookup.hpp"

#include <somnara/linux/sndfile/SndfileAudioOutput.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace somnara::app {
namespace {

/// "SOUND=VOLUME", the volume from 0 to 1.
std::pair<SoundTrack, float> parseVolume(const std::string& text) {
    const auto equals = text.rfind('=');
    std::size_t end = 0;
    float volume = -1;
    if (equals != std::string::npos) {
        try {
            volume = std::stof(text.substr(equals + 1), &end);
        } catch (const std::exception&) {
            end = 0;
        }
    }
    if (equals == std::string::npos || end == 0 || equals + 1 + end != text.size() ||
        !(volume >= 0 && volume <= 1)) {
        throw CLI::ValidationError("--volume",
                                   "'" + text + "' is not SOUND=VOLUME with a volume from 0 to 1");
    }
    return {soundNamed(text.substr(0, equals)), volume};
}

std::string clockTime(double seconds) {
    const auto whole = static_cast<long>(std::lround(seconds));
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}

/// A one-line bar on standard error, redrawn when the percentage moves; nothing when it is not a
/// terminal, so that scripts and logs stay clean.
class ProgressBar {
public:
    explicit ProgressBar(double totalSeconds)
        : totalSeconds_(totalSeconds), enabled_(::isatty(STDERR_FILENO) == 1) {}

    void update(std::int64_t done, std::int64_t total) {
        const double fraction = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 1.0;
        const int percent = static_cast<int>(100 * fraction);
        if (!enabled_ || percent == shown_) {
            return;
        }
        shown_ = percent;
        constexpr int width = 30;
        const int filled = percent * width / 100;
        std::cerr << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
                  << std::string(static_cast<std::size_t>(width - filled), ' ') << "] " << percent << "%  "
                  << clockTime(fraction * totalSeconds_) << " / " << clockTime(totalSeconds_) << std::flush;
        if (done == total) {
            std::cerr << '\n';
        }
    }

private:
    double totalSeconds_;
    bool enabled_;
    int shown_ = -1;
};

struct RenderOptions {
    std::vector<std::string> sounds;
    std::vector<std::string> volumes;
    std::string duration = "60s";
    std::string output = "somnara-mix.flac";
    bool noFades = false;
};

MixRequest makeRequest(const RenderOptions& options) {
    MixRequest request;
    for (const auto& name : options.sounds) {
        const auto soundTrack = soundNamed(name);
        const bool repeated = std::any_of(request.sounds.begin(), request.sounds.end(),
                                          [&](const auto& sound) { return sound.soundTrack == soundTrack; });
        if (!repeated) {
            request.sounds.push_back({soundTrack, 1.0F});
        }
    }
    for (const auto& text : options.volumes) {
        const auto [soundTrack, volume] = parseVolume(text);
        const auto sound =
            std::find_if(request.sounds.begin(), request.sounds.end(),
                         [&](const auto& candidate) { return candidate.soundTrack == soundTrack; });
        if (sound == request.sounds.end()) {
            throw CLI::ValidationError("--volume", std::string(soundTrack.englishName()) +
                                                       " is not among the sounds to render");
        }
        sound->volume = volume;
    }
    request.durationSeconds = parseDuration(options.duration, "--duration");
    request.output = options.output;
    auto extension = request.output.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (request.output != "-" && extension != ".wav" && extension != ".flac") {
        throw CLI::ValidationError("--output", "'" + options.output +
                                                   "' must end in .wav or .flac, or be - for raw float32");
    }
    if (extension != request.output.extension().string()) {
        request.output.replace_extension(extension);
    }
    request.fades = !options.noFades;
    return request;
}

/// Renders into a file beside the output and puts it in the output's place only once it is complete and
/// on disk: a failed or killed render leaves the old file as it was.
RenderedMix renderReplacing(MixRequest request, const RenderProgress& progress) {
    const auto target = request.output;
    auto partial = target;
    // The extension stays last: it chooses the format.
    partial.replace_filename("." + target.stem().string() + "." + std::to_string(::getpid()) + ".partial" +
                             target.extension().string());
    request.output = partial;
    try {
        const auto rendered = renderMix(request, progress);
        const int fd = ::open(partial.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::fsync(fd) != 0) {
            const int error = errno;
            if (fd >= 0) {
                ::close(fd);
            }
            throw std::runtime_error("cannot write " + target.string() + ": " + std::strerror(error));
        }
        ::close(fd);
        if (::rename(partial.c_str(), target.c_str()) != 0) {
            throw std::runtime_error("cannot write " + target.string() + ": " + std::strerror(errno));
        }
        return rendered;
    } catch (...) {
        ::unlink(partial.c_str());
        throw;
    }
}

} // namespace

void addRenderCommand(CLI::App& app) {
    auto* command = app.add_subcommand(
        "render",
        "Render a mix of sounds offline through the effects, with the stored sound settings applied");
    auto options = std::make_shared<RenderOptions>();
    command->add_option("sounds", options->sounds, "The sounds, by identifier or English name")->required();
    command->add_option("--volume", options->volumes, "A sound's volume from 0 to 1 (default 1)")
        ->option_text("SOUND=V");
    command
        ->add_option("--duration,-d", options->duration, "How long: seconds, or 90s, 10m, 1h (default 60s)")
        ->option_text("D");
    command
        ->add_option("--output,-o", options->output,
                     "A .wav or .flac file (default somnara-mix.flac), or - for raw float32 stereo on stdout")
        ->option_text("FILE");
    command->add_flag("--no-fades", options->noFades,
                      "Start and end at full volume instead of fading in and out");
    command->callback([options] {
        auto request = makeRequest(*options);
        requireUsableHome();
        registerSndfileAudioOutput();
        ProgressBar bar{request.durationSeconds};
        const auto progress = [&bar](std::int64_t done, std::int64_t total) { bar.update(done, total); };
        const auto rendered =
            request.output == "-" ? renderMix(request, progress) : renderReplacing(request, progress);
        if (request.output != "-") {
            std::cerr << "Wrote " << request.output.string() << ": "
                      << clockTime(static_cast<double>(rendered.frames) / rendered.sampleRate)
                      << " of stereo at " << rendered.sampleRate << " Hz\n";
        }
    });
}

} // namespace somnara::app
