#include <somnara/platform/AudioOutput.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <system_error>

namespace somnara {
namespace {

class AudioOutputCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "somnara.AudioOutput"; }
    std::string message(int code) const override {
        switch (static_cast<AudioOutputErrc>(code)) {
        case AudioOutputErrc::unknownBackend:
            return "no audio output of that name";
        case AudioOutputErrc::invalidConfiguration:
            return "invalid audio output configuration";
        case AudioOutputErrc::alreadyRunning:
            return "the audio output is already running";
        case AudioOutputErrc::serverUnreachable:
            return "no sound server could be reached";
        case AudioOutputErrc::deviceFailed:
            return "the sound server or device failed";
        case AudioOutputErrc::fileNotWritable:
            return "the audio file could not be written";
        case AudioOutputErrc::notManual:
            return "this audio output does not render on request";
        }
        return "audio output error " + std::to_string(code);
    }
};

struct Registry {
    std::mutex mutex;
    std::map<std::string, AudioOutput::Factory> factories;
};

Registry& registry() {
    static Registry instance;
    return instance;
}

} // namespace

const std::error_category& audioOutputCategory() noexcept {
    static const AudioOutputCategory category;
    return category;
}

std::error_code make_error_code(AudioOutputErrc errc) noexcept {
    return {static_cast<int>(errc), audioOutputCategory()};
}

// The two outputs that need no vendor library are made here; `NullAudioOutput.cpp` and
// `OfflineAudioOutput.cpp` define them.
std::unique_ptr<AudioOutput> makeNullAudioOutput(const AudioOutputConfiguration& configuration);
std::unique_ptr<AudioOutput> makeOfflineAudioOutput(const AudioOutputConfiguration& configuration);

std::unique_ptr<AudioOutput> AudioOutput::make(const std::string& name,
                                               const AudioOutputConfiguration& configuration) {
    if (!(configuration.sampleRate >= 1'000 && configuration.sampleRate <= 384'000) ||
        configuration.maximumFramesPerRender == 0 || configuration.maximumFramesPerRender > 65'536) {
        throw std::system_error(AudioOutputErrc::invalidConfiguration,
                                "sample rate " + std::to_string(configuration.sampleRate) + ", block " +
                                    std::to_string(configuration.maximumFramesPerRender));
    }
    if (name == "null") {
        return makeNullAudioOutput(configuration);
    }
    if (name == "offline") {
        return makeOfflineAudioOutput(configuration);
    }
    Factory factory;
    {
        std::lock_guard lock{registry().mutex};
        auto found = registry().factories.find(name);
        if (found != registry().factories.end()) {
            factory = found->second;
        }
    }
    if (!factory) {
        throw std::system_error(AudioOutputErrc::unknownBackend, name);
    }
    return factory(configuration);
}

void AudioOutput::registerBackend(const std::string& name, Factory factory) {
    std::lock_guard lock{registry().mutex};
    registry().factories[name] = std::move(factory);
}

std::vector<std::string> AudioOutput::backendNames() {
    std::vector<std::string> names{"null", "offline"};
    std::lock_guard lock{registry().mutex};
    for (const auto& entry : registry().factories) {
        names.push_back(entry.first);
    }
    return names;
}

AudioOutput::AudioOutput(std::string name, AudioOutputConfiguration configuration)
    : name_(std::move(name)), configuration_(std::move(configuration)) {}

void AudioOutput::start(AudioRenderer& renderer) {
    if (running_) {
        throw std::system_error(AudioOutputErrc::alreadyRunning, name_);
    }
    doStart(renderer);
    renderer_ = &renderer;
    running_ = true;
}

void AudioOutput::stop() {
    if (!running_) {
        return;
    }
    doStop();
    running_ = false;
    renderer_ = nullptr;
}

void AudioOutput::render(float* left, float* right, std::size_t frames) {
    if (!isManual() || !running_) {
        throw std::system_error(AudioOutputErrc::notManual, name_);
    }
    const std::size_t block = maximumFramesPerRender();
    if ((left == nullptr || right == nullptr) && scratch_.size() < 2 * block) {
        scratch_.assign(2 * block, 0.0F);
    }
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t count = std::min(block, frames - done);
        float* l = left != nullptr ? left + done : scratch_.data();
        float* r = right != nullptr ? right + done : scratch_.data() + block;
        doRender(*renderer_, l, r, count);
        done += count;
    }
}

void AudioOutput::doRender(AudioRenderer& renderer, float* left, float* right, std::size_t frames) {
    pull(renderer, left, right, frames);
}

} // namespace somnara
