#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace somnara {

/// What an output pulls audio from: float32 stereo, deinterleaved, `frames` at most the output's
/// `maximumFramesPerRender()`. Runs on the output's render thread (or the caller's thread for a manual
/// output), so it must not lock, allocate, free or log.
class AudioRenderer {
public:
    virtual ~AudioRenderer() = default;
    virtual void render(float* left, float* right, std::size_t frames) noexcept = 0;
};

/// Errors a caller of an output can act on.
enum class AudioOutputErrc {
    unknownBackend = 1,
    invalidConfiguration,
    alreadyRunning,
    /// No sound server answered (PulseAudio not running, no socket, access refused).
    serverUnreachable,
    /// The server or device refused the stream or failed while starting it.
    deviceFailed,
    /// The file of a file output could not be created or written.
    fileNotWritable,
    /// `render` was called on a manual output that is not started, or on a device output.
    notManual,
};
const std::error_category& audioOutputCategory() noexcept;
std::error_code make_error_code(AudioOutputErrc errc) noexcept;

/// How an output is asked for. Back ends use what concerns them and ignore the rest.
struct AudioOutputConfiguration {
    double sampleRate = 44'100;
    /// The largest block the renderer is asked for at once.
    std::size_t maximumFramesPerRender = 1024;
    /// Sound servers show it to the user (PulseAudio "application.name").
    std::string applicationName = "somnara";
    /// A sink name for device outputs; empty means the server's default.
    std::string device;
    /// Target latency of device outputs, in seconds. A quarter second suits sounds that play for hours:
    /// changes are smoothed and faded anyway, and a deep buffer means fewer requests from the server
    /// and more room on a busy machine.
    double latency = 0.25;
    /// The file a file output writes; its extension chooses the format (".wav" or ".flac").
    std::filesystem::path path;
    /// Period of the null output's clock, in seconds: each period wakes the loop once, so it is as long
    /// as a device's buffer would be.
    double period = 0.04;
};

/// An audio output: a device, a file, the null output, or the caller pulling frames by hand.
///
/// The front validates arguments and states (start twice, zero rates, oversize renders) once, so the
/// back ends behind it may assume valid input. Back ends are chosen at run time by name: "null" and
/// "offline" are always built; others ("pulse", "file") register themselves through `registerBackend`.
///
/// Threads: `start`, `stop` and the getters run on the loop; the renderer is called on the back end's
/// render thread, or for a manual output on the thread that calls `render`.
class AudioOutput {
public:
    using Factory = std::function<std::unique_ptr<AudioOutput>(const AudioOutputConfiguration&)>;

    virtual ~AudioOutput() = default;
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    /// Makes the output registered under `name`; throws `std::system_error` with
    /// `AudioOutputErrc::unknownBackend` or `invalidConfiguration`.
    static std::unique_ptr<AudioOutput> make(const std::string& name,
                                             const AudioOutputConfiguration& configuration);
    static void registerBackend(const std::string& name, Factory factory);
    static std::vector<std::string> backendNames();

    const std::string& name() const noexcept { return name_; }
    double sampleRate() const noexcept { return configuration_.sampleRate; }
    std::size_t maximumFramesPerRender() const noexcept { return configuration_.maximumFramesPerRender; }
    const AudioOutputConfiguration& configuration() const noexcept { return configuration_; }

    /// Starts pulling from `renderer`, which must outlive the run. Throws `std::system_error`
    /// (`audioOutputCategory`) when the output cannot start; a failed start leaves it stopped.
    void start(AudioRenderer& renderer);
    /// Stops pulling; when it returns the renderer is no longer called. Stopping a stopped output does
    /// nothing.
    void stop();
    bool isRunning() const noexcept { return running_; }

    /// Whether frames are rendered only when the caller asks (`render`), as in offline rendering.
    virtual bool isManual() const noexcept { return false; }
    /// Renders `frames` frames now, on the calling thread, in blocks of at most
    /// `maximumFramesPerRender()`. Manual outputs only; throws `notManual` otherwise or when stopped.
    /// `left` and `right` may be null to discard the audio (a file output still writes it).
    void render(float* left, float* right, std::size_t frames);
    /// Frames handed to the renderer since the output was made.
    std::int64_t framesRendered() const noexcept { return framesRendered_.load(std::memory_order_relaxed); }
    /// Times the device ran dry since the output was made.
    virtual std::uint64_t underrunCount() const noexcept { return 0; }
    /// How long a frame takes from the renderer to the listener, in seconds.
    virtual double latencySeconds() const noexcept { return 0; }

protected:
    AudioOutput(std::string name, AudioOutputConfiguration configuration);

    virtual void doStart(AudioRenderer& renderer) = 0;
    virtual void doStop() = 0;
    /// Manual back ends: deliver one block (already validated, at most the maximum).
    virtual void doRender(AudioRenderer& renderer, float* left, float* right, std::size_t frames);

    /// For back ends: calls the renderer and counts the frames.
    void pull(AudioRenderer& renderer, float* left, float* right, std::size_t frames) noexcept {
        renderer.render(left, right, frames);
        framesRendered_.fetch_add(static_cast<std::int64_t>(frames), std::memory_order_relaxed);
    }

private:
    std::string name_;
    AudioOutputConfiguration configuration_;
    // Loop only.
    bool running_ = false;
    AudioRenderer* renderer_ = nullptr;
    std::vector<float> scratch_;
    // Written by the render thread, read anywhere; a statistic, so relaxed.
    std::atomic<std::int64_t> framesRendered_{0};
};

} // namespace somnara

namespace std {
template <>
struct is_error_code_enum<somnara::AudioOutputErrc> : true_type {};
} // namespace std
