#include <somnara/linux/sndfile/SndfileAudioOutput.hpp>

#include <sndfile.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace somnara {

namespace {

/// Writes what it renders to a WAV or FLAC file. Manual: frames are rendered, and written, on the
/// thread that asks for them.
class SndfileAudioOutput final : public AudioOutput {
public:
    explicit SndfileAudioOutput(const AudioOutputConfiguration& configuration)
        : AudioOutput("file", configuration), interleaved_(2 * configuration.maximumFramesPerRender) {}

    ~SndfileAudioOutput() override { close(); }

    bool isManual() const noexcept override { return true; }

private:
    void doStart(AudioRenderer&) override {
        const auto extension = configuration().path.extension().string();
        SF_INFO info{};
        info.samplerate = static_cast<int>(sampleRate());
        info.channels = 2;
        if (extension == ".wav") {
            info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        } else if (extension == ".flac") {
            info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
        } else {
            throw std::system_error(AudioOutputErrc::invalidConfiguration,
                                    "unsupported file type " + configuration().path.string());
        }
        file_ = sf_open(configuration().path.c_str(), SFM_WRITE, &info);
        if (file_ == nullptr) {
            throw std::system_error(AudioOutputErrc::fileNotWritable,
                                    configuration().path.string() + ": " + sf_strerror(nullptr));
        }
        // Float input beyond ±1 is clipped when written as integers rather than wrapped.
        sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    }

    void doStop() override {
        // Closing writes the file's last frames and header: a failure there is a failed render too.
        if (file_ != nullptr && sf_close(std::exchange(file_, nullptr)) != 0) {
            throw std::system_error(AudioOutputErrc::fileNotWritable,
                                    configuration().path.string() + ": cannot finish the file");
        }
    }

    void doRender(AudioRenderer& renderer, float* left, float* right, std::size_t frames) override {
        pull(renderer, left, right, frames);
        for (std::size_t i = 0; i < frames; ++i) {
            interleaved_[2 * i] = left[i];
            interleaved_[2 * i + 1] = right[i];
        }
        const auto written = sf_writef_float(file_, interleaved_.data(), static_cast<sf_count_t>(frames));
        if (written != static_cast<sf_count_t>(frames)) {
            throw std::system_error(AudioOutputErrc::fileNotWritable,
                                    configuration().path.string() + ": " + sf_strerror(file_));
        }
    }

    void close() noexcept {
        if (file_ != nullptr) {
            sf_close(file_);
            file_ = nullptr;
        }
    }

    SNDFILE* file_ = nullptr;
    std::vector<float> interleaved_;
};

} // namespace

std::unique_ptr<AudioOutput> makeSndfileAudioOutput(const AudioOutputConfiguration& configuration) {
    return std::make_unique<SndfileAudioOutput>(configuration);
}

void registerSndfileAudioOutput() {
    AudioOutput::registerBackend("file", [](const AudioOutputConfiguration& configuration) {
        return makeSndfileAudioOutput(configuration);
    });
}

} // namespace somnara
