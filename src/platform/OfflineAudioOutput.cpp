#include <somnara/platform/AudioOutput.hpp>

namespace somnara {
namespace {

/// Manual rendering: nothing happens until the caller asks for frames, which are rendered on its
/// thread. The basis of render tests and of rendering a mix to a file.
class OfflineAudioOutput final : public AudioOutput {
public:
    explicit OfflineAudioOutput(const AudioOutputConfiguration& configuration)
        : AudioOutput("offline", configuration) {}

    bool isManual() const noexcept override { return true; }

private:
    void doStart(AudioRenderer&) override {}
    void doStop() override {}
};

} // namespace

std::unique_ptr<AudioOutput> makeOfflineAudioOutput(const AudioOutputConfiguration& configuration) {
    return std::make_unique<OfflineAudioOutput>(configuration);
}

} // namespace somnara
