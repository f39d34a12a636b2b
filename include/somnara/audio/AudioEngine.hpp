#pragma once

#include <somnara/audio/AudioMixerNode.hpp>
#include <somnara/audio/AudioNode.hpp>
#include <somnara/audio/AudioPlayerNode.hpp>
#include <somnara/platform/AudioOutput.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <system_error>

namespace somnara {

namespace rt {
struct RenderCommand;
}

/// Errors of the engine a caller can act on (the output's own errors keep their category).
enum class AudioEngineErrc {
    /// The nodes are not connected as a chain the engine can render (a node with two non-player
    /// inputs, a player connected to something else than a mixer).
    unsupportedTopology = 1,
    /// A manual render was asked of an engine that does not run on a manual output.
    notManual,
    /// The output rate cannot change while the engine runs.
    running,
};
const std::error_category& audioEngineCategory() noexcept;
std::error_code make_error_code(AudioEngineErrc errc) noexcept;

/// The audio graph: player nodes into mixers, through effect units, into the main mixer and the
/// output. Rendering pulls from the output, in float32 stereo at the output's rate, on the output's
/// render thread (or the caller's, offline).
///
/// Threads: every member runs on the loop. The render thread meets the loop only in two lock-free
/// queues (commands out, events back) and in the units' published parameter targets. Events are
/// collected on the loop while a device output runs, at about twice its latency (at most every half
/// second, at least every 20 ms), and after each manual render.
class AudioEngine : public std::enable_shared_from_this<AudioEngine> {
public:
    /// Up to this many players may be attached at once.
    static constexpr std::size_t maximumPlayerCount = 64;

    /// An engine on `output`, or on the null output at 44.1 kHz when none is given.
    explicit AudioEngine(std::shared_ptr<AudioOutput> output = nullptr);
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    /// Attaches `node` (the engine keeps it alive until it is detached). Attaching it again does
    /// nothing; a node attached to another engine is detached from it first.
    void attach(const std::shared_ptr<AudioNode>& node);
    /// Detaches `node` and its connections; a player's queued items complete as not played back.
    void detach(const std::shared_ptr<AudioNode>& node);
    /// Connects `from`'s output to `to`, replacing `from`'s earlier connection. Both are attached if
    /// they were not. The format is the engine's: float32 stereo at the output's rate. A change
    /// between effect units takes effect at the next `start()`; players move at once.
    void connect(const std::shared_ptr<AudioNode>& from, const std::shared_ptr<AudioNode>& to);
    void disconnectNodeOutput(const std::shared_ptr<AudioNode>& node);

    /// The mixer that feeds the output; made and attached on first use.
    std::shared_ptr<AudioMixerNode> mainMixerNode();

    bool isRunning() const noexcept { return running_; }
    /// Starts rendering. Throws `std::system_error`: `AudioEngineErrc::unsupportedTopology`, or the
    /// output's error (`audioOutputCategory`, e.g. `serverUnreachable`); the engine then stays stopped.
    void start();
    /// Stops rendering; queued items stay queued and players keep their state.
    void stop();
    /// Stops every player (their completions run as not played back) and clears the effects' tails.
    void reset();

    AudioOutput& output() noexcept { return *output_; }
    /// Replaces the output; the engine must be stopped. Decoded sounds are dropped when the rate
    /// changes.
    void setOutput(std::shared_ptr<AudioOutput> output);
    double sampleRate() const noexcept;

    /// Renders `frames` frames now, on the calling thread, into `left`/`right` (either may be null to
    /// discard), then collects the render side's events. A manual output only, and the engine must run.
    /// Offline rendering waits for decoding rather than leave gaps, so its result is always the same.
    void renderOffline(float* left, float* right, std::size_t frames);

    /// Frames rendered since the engine first started.
    std::int64_t framesRendered() const noexcept;
    /// Times a player that was sounding ran dry because its decoder was behind (device outputs only); a
    /// player waiting for its first decoded frames only starts late.
    std::uint64_t underrunCount() const noexcept { return underruns_; }
    /// Bytes of decoded audio held for the items that are queued: a ring each at most.
    std::size_t decodedBytes() const noexcept;
    /// Items whose first frames are not decoded yet (for tests and tools that want to start with every
    /// ring full).
    std::size_t pendingDecodes() const noexcept;

    /// Collects the render side's events now and runs what they complete. Called on a timer while
    /// running; exposed for the engine's own tests and tools.
    void collectEvents();

private:
    friend class AudioPlayerNode;
    struct State;

    void scheduleItem(AudioPlayerNode& player, std::shared_ptr<AudioFile> file,
                      AudioPlayerNode::CompletionHandler completion);
    void sendPlayerCommand(const AudioPlayerNode& player, int kind);
    /// Hands a player's volume or pan glide (a `rt::RenderCommand::Kind`) to its voice.
    void sendGain(const AudioPlayerNode& player, int kind, float value, double seconds);
    void rebuildGraph();
    /// Queues a command for the render side; when its queue is full the command waits, in order, and
    /// goes at the next collection or command.
    void sendCommand(const rt::RenderCommand& command);
    /// Sends a command to a player's voice; with no render thread running, the loop applies it at once.
    void sendToVoice(const rt::RenderCommand& command);
    void moveWaitingCommands();
    void applyCommandsWhileStopped();
    void armCollector();

    std::shared_ptr<AudioOutput> output_;
    bool running_ = false;
    std::uint64_t underruns_ = 0;
    std::unique_ptr<State> state_;
};

} // namespace somnara

namespace std {
template <>
struct is_error_code_enum<somnara::AudioEngineErrc> : true_type {};
} // namespace std
