#include "linux/pulse/PulseStreamLink.hpp"

#include <somnara/linux/pulse/PulseAudioOutput.hpp>
#include <somnara/runtime/Loop.hpp>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace somnara {

namespace {

constexpr std::size_t bytesPerFrame = 2 * sizeof(float);

/// Plays through a PulseAudio server. libpulse's threaded main loop owns the render thread: the
/// stream's write callback pulls from the renderer and copies into the server's buffer. While it
/// plays, the stream is the process's on the `PulseStreamLink`, where the audio session corks it and
/// hears of its cork requests, moves and failure.
///
/// Threads: `doStart`, `doStop`, `setCorked`, `unmute` and `latencySeconds` run on the loop and take
/// the main loop's lock; the callbacks run on libpulse's thread with that lock held. `underruns_` is a
/// statistic, relaxed.
class PulseAudioOutput final : public AudioOutput, private PulseStreamLink::Stream {
public:
    explicit PulseAudioOutput(const AudioOutputConfiguration& configuration)
        : AudioOutput("pulse", configuration), left_(configuration.maximumFramesPerRender),
          right_(configuration.maximumFramesPerRender) {}

    ~PulseAudioOutput() override { tearDown(); }

    std::uint64_t underrunCount() const noexcept override {
        return underruns_.load(std::memory_order_relaxed);
    }

    double latencySeconds() const noexcept override {
        if (mainloop_ == nullptr || stream_ == nullptr) {
            return 0.0;
        }
        pa_threaded_mainloop_lock(mainloop_);
        pa_usec_t latency = 0;
        int negative = 0;
        const bool known = pa_stream_get_latency(stream_, &latency, &negative) == 0;
        // Timing is refreshed on request only (automatic updates would wake both sides ten times a
        // second): the answer serves the next call, interpolated from then on.
        if (pa_operation* update = pa_stream_update_timing_info(stream_, nullptr, nullptr)) {
            pa_operation_unref(update);
        }
        pa_threaded_mainloop_unlock(mainloop_);
        return known && negative == 0 ? static_cast<double>(latency) / 1e6 : configuration().latency;
    }

private:
    void doStart(AudioRenderer& renderer) override {
        renderer_ = &renderer;
        loop_ = &Loop::current();
        mainloop_ = pa_threaded_mainloop_new();
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, configuration().applicationName.c_str());
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
        context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_),
                                                configuration().applicationName.c_str(), properties);
        pa_context_set_state_callback(context_, &PulseAudioOutput::contextChanged, this);
        // Never start a server of our own: a missing server is an error the caller must see.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            fail(AudioOutputErrc::serverUnreachable, pa_strerror(pa_context_errno(context_)), properties);
        }
        pa_threaded_mainloop_lock(mainloop_);
        if (pa_threaded_mainloop_start(mainloop_) < 0) {
            pa_threaded_mainloop_unlock(mainloop_);
            fail(AudioOutputErrc::deviceFailed, "cannot start the PulseAudio thread", properties);
        }
        pa_context_state_t state;
        while ((state = pa_context_get_state(context_)) != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(state)) {
            pa_threaded_mainloop_wait(mainloop_);
        }
        if (state != PA_CONTEXT_READY) {
            const std::string reason = pa_strerror(pa_context_errno(context_));
            pa_threaded_mainloop_unlock(mainloop_);
            fail(AudioOutputErrc::serverUnreachable, reason, properties);
        }

        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(sampleRate()), 2};
        stream_ = pa_stream_new_with_proplist(context_, configuration().applicationName.c_str(), &spec,
                                              nullptr, properties);
        pa_proplist_free(properties);
        pa_stream_set_state_callback(stream_, &PulseAudioOutput::streamChanged, this);
        pa_stream_set_write_callback(stream_, &PulseAudioOutput::writeRequested, this);
        pa_stream_set_underflow_callback(stream_, &PulseAudioOutput::underflowed, this);
        pa_buffer_attr attributes;
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        const auto latencyFrames =
            static_cast<std::uint32_t>(std::lround(configuration().latency * sampleRate()));
        attributes.tlength = latencyFrames * static_cast<std::uint32_t>(bytesPerFrame);
        attributes.prebuf = static_cast<std::uint32_t>(-1);
        // Refilled a third of the buffer at a time: each request wakes the render thread (and the server's
        // release of what it played once more). The sink is asked for the third that is left, so other
        // streams on it are not pushed to its shortest latency.
        attributes.minreq = latencyFrames / 3 * static_cast<std::uint32_t>(bytesPerFrame);
        attributes.fragsize = static_cast<std::uint32_t>(-1);
        const char* device = configuration().device.empty() ? nullptr : configuration().device.c_str();
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING);
        if (pa_stream_connect_playback(stream_, device, &attributes, flags, nullptr, nullptr) < 0) {
            const std::string reason = pa_strerror(pa_context_errno(context_));
            pa_threaded_mainloop_unlock(mainloop_);
            fail(AudioOutputErrc::deviceFailed, reason, nullptr);
        }
        pa_stream_state_t streamState;
        while ((streamState = pa_stream_get_state(stream_)) != PA_STREAM_READY &&
               PA_STREAM_IS_GOOD(streamState)) {
            pa_threaded_mainloop_wait(mainloop_);
        }
        if (streamState != PA_STREAM_READY) {
            const std::string reason = pa_strerror(pa_context_errno(context_));
            pa_threaded_mainloop_unlock(mainloop_);
            fail(AudioOutputErrc::deviceFailed, reason, nullptr);
        }
        pa_stream_set_event_callback(stream_, &PulseAudioOutput::eventReceived, this);
        pa_stream_set_moved_callback(stream_, &PulseAudioOutput::moved, this);
        failureReported_ = false;
        const char* sink = pa_stream_get_device_name(stream_);
        linkGeneration_ = PulseStreamLink::shared().attach(*this, sink != nullptr ? sink : "");
        pa_threaded_mainloop_unlock(mainloop_);
    }

    void setCorked(bool corked) noexcept override {
        startOnStream([&] { return pa_stream_cork(stream_, corked ? 1 : 0, nullptr, nullptr); });
    }

    void unmute() noexcept override {
        startOnStream([&] {
            return pa_context_set_sink_input_mute(context_, pa_stream_get_index(stream_), 0, nullptr,
                                                  nullptr);
        });
    }

    // Loop: starts an operation on the stream, when there is one, without waiting for it.
    template <class Start>
    void startOnStream(Start start) noexcept {
        pa_threaded_mainloop_lock(mainloop_);
        if (stream_ != nullptr) {
            if (pa_operation* operation = start()) {
                pa_operation_unref(operation);
            }
        }
        pa_threaded_mainloop_unlock(mainloop_);
    }

    void doStop() override { tearDown(); }

    [[noreturn]] void fail(AudioOutputErrc errc, const std::string& reason, pa_proplist* properties) {
        if (properties != nullptr) {
            pa_proplist_free(properties);
        }
        tearDown();
        throw std::system_error(errc, "PulseAudio: " + reason);
    }

    void tearDown() noexcept {
        if (mainloop_ == nullptr) {
            return;
        }
        pa_threaded_mainloop_lock(mainloop_);
        // The session hears first, so that it never corks a stream being torn down.
        PulseStreamLink::shared().detach(std::exchange(linkGeneration_, 0));
        if (stream_ != nullptr) {
            pa_stream_set_event_callback(stream_, nullptr, nullptr);
            pa_stream_set_moved_callback(stream_, nullptr, nullptr);
            pa_stream_set_write_callback(stream_, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        if (context_ != nullptr) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
            context_ = nullptr;
        }
        pa_threaded_mainloop_unlock(mainloop_);
        pa_threaded_mainloop_stop(mainloop_);
        pa_threaded_mainloop_free(mainloop_);
        mainloop_ = nullptr;
        renderer_ = nullptr;
    }

    static void contextChanged(pa_context*, void* self) {
        pa_threaded_mainloop_signal(static_cast<PulseAudioOutput*>(self)->mainloop_, 0);
    }

    static void streamChanged(pa_stream* stream, void* self) {
        auto& output = *static_cast<PulseAudioOutput*>(self);
        const auto state = pa_stream_get_state(stream);
        // A stream that dies while playing (the server gone, the stream killed) takes the engine with it.
        if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) &&
            !std::exchange(output.failureReported_, true)) {
            output.report(PulseStreamLink::Event::failed, stream);
        }
        pa_threaded_mainloop_signal(output.mainloop_, 0);
    }

    static void eventReceived(pa_stream* stream, const char* name, pa_proplist*, void* self) {
        auto& output = *static_cast<PulseAudioOutput*>(self);
        if (std::strcmp(name, PA_STREAM_EVENT_REQUEST_CORK) == 0) {
            output.report(PulseStreamLink::Event::corkRequested, stream);
        } else if (std::strcmp(name, PA_STREAM_EVENT_REQUEST_UNCORK) == 0) {
            output.report(PulseStreamLink::Event::uncorkRequested, stream);
        }
    }

    static void moved(pa_stream* stream, void* self) {
        static_cast<PulseAudioOutput*>(self)->report(PulseStreamLink::Event::moved, stream);
    }

    // libpulse's thread; not the render path, so it may allocate.
    void report(PulseStreamLink::Event event, pa_stream* stream) {
        if (linkGeneration_ == 0) {
            return;
        }
        const char* sink = pa_stream_get_device_name(stream);
        PulseStreamLink::report(*loop_, linkGeneration_, event, sink != nullptr ? sink : "");
    }

    static void underflowed(pa_stream*, void* self) {
        static_cast<PulseAudioOutput*>(self)->underruns_.fetch_add(1, std::memory_order_relaxed);
    }

    static void writeRequested(pa_stream* stream, std::size_t bytes, void* self) {
        static_cast<PulseAudioOutput*>(self)->write(stream, bytes);
    }

    // The render thread: fills what the server asks for, rendering in blocks the renderer can take
    // into as few writes as the server's buffers allow (each write is a message back when the server
    // has played it, so one per render block would wake this thread fifty times a second).
    void write(pa_stream* stream, std::size_t bytes) noexcept {
        while (bytes >= bytesPerFrame) {
            void* data = nullptr;
            std::size_t size = bytes;
            if (pa_stream_begin_write(stream, &data, &size) < 0 || data == nullptr) {
                return;
            }
            const std::size_t frames = std::min(size, bytes) / bytesPerFrame;
            auto* out = static_cast<float*>(data);
            for (std::size_t done = 0; done < frames;) {
                const std::size_t count = std::min(frames - done, left_.size());
                pull(*renderer_, left_.data(), right_.data(), count);
                for (std::size_t i = 0; i < count; ++i) {
                    out[2 * (done + i)] = left_[i];
                    out[2 * (done + i) + 1] = right_[i];
                }
                done += count;
            }
            pa_stream_write(stream, data, frames * bytesPerFrame, nullptr, 0, PA_SEEK_RELATIVE);
            bytes -= frames * bytesPerFrame;
        }
    }

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    AudioRenderer* renderer_ = nullptr;
    // Written on the loop and read on libpulse's thread, both under the main loop's lock.
    Loop* loop_ = nullptr;
    std::uint64_t linkGeneration_ = 0;
    bool failureReported_ = false;
    // Render thread only.
    std::vector<float> left_;
    std::vector<float> right_;
    std::atomic<std::uint64_t> underruns_{0};
};

} // namespace

std::unique_ptr<AudioOutput> makePulseAudioOutput(const AudioOutputConfiguration& configuration) {
    return std::make_unique<PulseAudioOutput>(configuration);
}

void registerPulseAudioOutput() {
    AudioOutput::registerBackend("pulse", [](const AudioOutputConfiguration& configuration) {
        return makePulseAudioOutput(configuration);
    });
}

} // namespace somnara
