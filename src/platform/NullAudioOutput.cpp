#include <somnara/platform/AudioOutput.hpp>
#include <somnara/runtime/Loop.hpp>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace somnara {
namespace {

/// Discards what it renders, at the pace of the loop's continuous clock: every period it renders the
/// frames that real time says are due, so it costs what a device would and runs under virtual time in
/// tests. Renders on the loop thread, from a loop timer.
class NullAudioOutput final : public AudioOutput {
public:
    explicit NullAudioOutput(const AudioOutputConfiguration& configuration)
        : AudioOutput("null", configuration), left_(configuration.maximumFramesPerRender),
          right_(configuration.maximumFramesPerRender) {}

    ~NullAudioOutput() override { cancelTimer(); }

private:
    void doStart(AudioRenderer& renderer) override {
        renderer_ = &renderer;
        startedAt_ = Loop::current().continuousNow();
        due_ = 0;
        arm();
    }

    void doStop() override {
        cancelTimer();
        renderer_ = nullptr;
    }

    void arm() {
        const double period = std::max(configuration().period, 0.001);
        ++ticks_;
        const auto due = startedAt_ + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          Seconds{period * static_cast<double>(ticks_)});
        timer_ = Loop::current().addTimer(due, Seconds{0}, [this] { tick(); });
    }

    void tick() {
        timer_.reset();
        const Seconds elapsed = Loop::current().continuousNow() - startedAt_;
        const auto target = static_cast<std::int64_t>(std::floor(elapsed.count() * sampleRate()));
        while (due_ < target) {
            const auto count = static_cast<std::size_t>(
                std::min<std::int64_t>(target - due_, static_cast<std::int64_t>(left_.size())));
            pull(*renderer_, left_.data(), right_.data(), count);
            due_ += static_cast<std::int64_t>(count);
        }
        arm();
    }

    void cancelTimer() {
        if (timer_ && Loop::hasCurrent()) {
            Loop::current().cancelTimer(*timer_);
        }
        timer_.reset();
        ticks_ = 0;
    }

    // Loop only.
    AudioRenderer* renderer_ = nullptr;
    ContinuousInstant startedAt_{};
    std::int64_t due_ = 0;
    std::int64_t ticks_ = 0;
    std::optional<Loop::TimerId> timer_;
    std::vector<float> left_;
    std::vector<float> right_;
};

} // namespace

std::unique_ptr<AudioOutput> makeNullAudioOutput(const AudioOutputConfiguration& configuration) {
    return std::make_unique<NullAudioOutput>(configuration);
}

} // namespace somnara
