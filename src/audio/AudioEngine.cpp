#include "AudioDecoder.hpp"
#include "rt/MixerStage.hpp"
#include "rt/RenderGraph.hpp"
#include "rt/SharedParameters.hpp"
#include "rt/UnitStages.hpp"
#include "rt/Voice.hpp"

#include <somnara/audio/AudioEngine.hpp>
#include <somnara/audio/AudioUnitDelay.hpp>
#include <somnara/audio/AudioUnitEQ.hpp>
#include <somnara/audio/AudioUnitReverb.hpp>
#include <somnara/audio/AudioUnitTimePitch.hpp>
#include <somnara/audio/AudioUnitVarispeed.hpp>
#include <somnara/runtime/Loop.hpp>
#include <somnara/system/SomnaraLogger.hpp>
#include <somnara/system/ZelAnalyticsLogger.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

namespace somnara {

namespace {

/// A command to a player's voice, marked as its current owner's.
rt::RenderCommand commandTo(int voice, std::uint32_t generation, rt::RenderCommand::Kind kind) {
    rt::RenderCommand command;
    command.kind = kind;
    command.voice = static_cast<std::uint16_t>(voice);
    command.generation = generation;
    return command;
}

class AudioEngineCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "somnara.AudioEngine"; }
    std::string message(int code) const override {
        switch (static_cast<AudioEngineErrc>(code)) {
        case AudioEngineErrc::unsupportedTopology:
            return "the nodes are not connected as a chain the engine can render";
        case AudioEngineErrc::notManual:
            return "the engine does not render on request";
        case AudioEngineErrc::running:
            return "the engine is running";
        }
        return "audio engine error " + std::to_string(code);
    }
};

/// Where commands applied on the loop (engine stopped) report: into the event queue, which the loop,
/// its consumer too, empties whenever it is full.
class StoppedSink final : public rt::EventSink {
public:
    StoppedSink(rt::EventQueue& events, UniqueFunction<void()> collect)
        : events_(events), collect_(std::move(collect)) {}
    void itemEnded(std::size_t, double, const rt::RenderEvent& event) noexcept override { report(event); }
    void report(const rt::RenderEvent& event) noexcept override {
        while (!events_.push(event)) {
            collect_();
        }
    }
    void underrun() noexcept override {}

private:
    rt::EventQueue& events_;
    UniqueFunction<void()> collect_;
};

constexpr std::uint8_t unrouted = rt::Voice::unrouted;

} // namespace

const std::error_category& audioEngineCategory() noexcept {
    static const AudioEngineCategory category;
    return category;
}

std::error_code make_error_code(AudioEngineErrc errc) noexcept {
    return {static_cast<int>(errc), audioEngineCategory()};
}

struct AudioEngine::State {
    // Shared with the render thread: the voices (render thread while running, loop while stopped) and
    // the two queues (loop produces commands and consumes events).
    std::array<rt::Voice, maximumPlayerCount> voices;
    rt::CommandQueue commands;
    rt::EventQueue events;
    std::unique_ptr<rt::RenderGraph> graph;

    // Loop only.
    std::array<std::uint32_t, maximumPlayerCount> generations{};
    std::array<AudioPlayerNode*, maximumPlayerCount> owners{};
    bool topologyDirty = true;
    std::vector<std::shared_ptr<AudioNode>> nodes;
    std::map<AudioNode*, AudioNode*> connections; // from → to; a node has one output
    std::shared_ptr<AudioMixerNode> mainMixer;
    std::uint8_t nextMixerId = 0;

    /// A scheduled item until the render side reports it.
    struct Item {
        AudioPlayerNode::CompletionHandler completion;
        std::shared_ptr<rt::PcmBuffer> buffer;
    };
    std::unordered_map<std::uint64_t, Item> items;
    std::uint64_t nextItem = 1;
    std::optional<Loop::TimerId> collector;
    double collectionPeriod = 0.02;
    /// Commands the full command queue could not take yet, oldest first: they follow it in order.
    std::deque<rt::RenderCommand> waitingCommands;
    std::int64_t framesBeforeGraph = 0;

    // Declared last so it is destroyed first: the worker stops before the buffers it fills go.
    std::unique_ptr<AudioDecoder> decoder;

    bool isAttached(const AudioNode* node) const {
        return std::any_of(nodes.begin(), nodes.end(), [&](const auto& n) { return n.get() == node; });
    }
};

AudioEngine::AudioEngine(std::shared_ptr<AudioOutput> output)
    : output_(output ? std::move(output) : std::shared_ptr<AudioOutput>(AudioOutput::make("null", {}))),
      state_(std::make_unique<State>()) {
    state_->decoder = std::make_unique<AudioDecoder>(
        [](std::string message) { SomnaraLogger::log(std::move(message), LogType::error); });
}

AudioEngine::~AudioEngine() {
    if (running_) {
        output_->stop();
    }
    if (state_->collector) {
        Loop::current().cancelTimer(*state_->collector);
    }
    for (auto& node : state_->nodes) {
        node->engine_.reset();
        if (node->kind() == AudioNode::Kind::player) {
            static_cast<AudioPlayerNode&>(*node).voice_ = -1;
        }
    }
}

double AudioEngine::sampleRate() const noexcept {
    return output_->sampleRate();
}

std::int64_t AudioEngine::framesRendered() const noexcept {
    return state_->graph ? state_->graph->framesRendered() : state_->framesBeforeGraph;
}

std::size_t AudioEngine::decodedBytes() const noexcept {
    std::size_t bytes = 0;
    for (const auto& entry : state_->items) {
        bytes += entry.second.buffer->bytes();
    }
    return bytes;
}

std::size_t AudioEngine::pendingDecodes() const noexcept {
    return state_->decoder->pending();
}

std::shared_ptr<AudioMixerNode> AudioEngine::mainMixerNode() {
    if (!state_->mainMixer) {
        state_->mainMixer = std::make_shared<AudioMixerNode>();
        attach(state_->mainMixer);
    }
    return state_->mainMixer;
}

void AudioEngine::attach(const std::shared_ptr<AudioNode>& node) {
    if (state_->isAttached(node.get())) {
        return;
    }
    if (auto other = node->engine()) {
        other->detach(node);
    }
    node->engine_ = weak_from_this();
    state_->nodes.push_back(node);
    if (node->kind() == AudioNode::Kind::mixer) {
        auto& mixer = static_cast<AudioMixerNode&>(*node);
        mixer.mixerId_ = state_->nextMixerId;
        state_->nextMixerId = static_cast<std::uint8_t>((state_->nextMixerId + 1) % unrouted);
    }
    if (node->kind() != AudioNode::Kind::player) {
        return;
    }
    auto& player = static_cast<AudioPlayerNode&>(*node);
    const auto free = std::find(state_->owners.begin(), state_->owners.end(), nullptr);
    if (free == state_->owners.end()) {
        ZelAnalyticsLogger::shared().loggedAssertionFailure("No free voice for a player node",
                                                            "SomnaraKit/AudioEngine", "attach(_:)", __LINE__);
        return;
    }
    const auto index = static_cast<std::size_t>(free - state_->owners.begin());
    *free = &player;
    player.voice_ = static_cast<int>(index);
    player.generation_ = ++state_->generations[index];
    sendPlayerCommand(player, static_cast<int>(rt::RenderCommand::Kind::claimVoice));
    // The voice starts at the player's volume and pan as they are now.
    sendGain(player, static_cast<int>(rt::RenderCommand::Kind::volume), player.volume(), 0.0);
    sendGain(player, static_cast<int>(rt::RenderCommand::Kind::pan), player.pan(), 0.0);
    if (player.playing_) {
        sendPlayerCommand(player, static_cast<int>(rt::RenderCommand::Kind::play));
    }
}

void AudioEngine::detach(const std::shared_ptr<AudioNode>& node) {
    auto& nodes = state_->nodes;
    const auto found = std::find(nodes.begin(), nodes.end(), node);
    if (found == nodes.end()) {
        return;
    }
    disconnectNodeOutput(node);
    for (auto it = state_->connections.begin(); it != state_->connections.end();) {
        if (it->second == node.get()) {
            if (it->first->kind() == AudioNode::Kind::player) {
                state_->connections.erase(it++);
                continue;
            }
            state_->topologyDirty = true;
            it = state_->connections.erase(it);
        } else {
            ++it;
        }
    }
    if (node->kind() == AudioNode::Kind::player) {
        auto& player = static_cast<AudioPlayerNode&>(*node);
        if (player.voice_ >= 0) {
            sendPlayerCommand(player, static_cast<int>(rt::RenderCommand::Kind::releaseVoice));
            state_->owners[static_cast<std::size_t>(player.voice_)] = nullptr;
            player.voice_ = -1;
        }
    }
    if (node == state_->mainMixer) {
        state_->mainMixer.reset();
    }
    node->engine_.reset();
    nodes.erase(found);
}

void AudioEngine::connect(const std::shared_ptr<AudioNode>& from, const std::shared_ptr<AudioNode>& to) {
    attach(from);
    attach(to);
    if (from == to) {
        ZelAnalyticsLogger::shared().loggedAssertionFailure(
            "A node connected to itself", "SomnaraKit/AudioEngine", "connect(_:to:)", __LINE__);
        return;
    }
    state_->connections[from.get()] = to.get();
    if (from->kind() != AudioNode::Kind::player) {
        state_->topologyDirty = true;
        return;
    }
    auto& player = static_cast<AudioPlayerNode&>(*from);
    if (player.voice_ < 0) {
        return;
    }
    rt::RenderCommand command = commandTo(player.voice_, player.generation_, rt::RenderCommand::Kind::route);
    command.item =
        to->kind() == AudioNode::Kind::mixer ? static_cast<AudioMixerNode&>(*to).mixerId_ : unrouted;
    if (command.item == unrouted) {
        SomnaraLogger::log("A player node plays only into a mixer; this connection stays silent",
                           LogType::error);
    }
    sendToVoice(command);
}

void AudioEngine::disconnectNodeOutput(const std::shared_ptr<AudioNode>& node) {
    const auto found = state_->connections.find(node.get());
    if (found == state_->connections.end()) {
        return;
    }
    state_->connections.erase(found);
    if (node->kind() != AudioNode::Kind::player) {
        state_->topologyDirty = true;
        return;
    }
    auto& player = static_cast<AudioPlayerNode&>(*node);
    if (player.voice_ >= 0) {
        rt::RenderCommand command =
            commandTo(player.voice_, player.generation_, rt::RenderCommand::Kind::route);
        command.item = unrouted;
        sendToVoice(command);
    }
}

void AudioEngine::rebuildGraph() {
    auto main = mainMixerNode();
    // Walk up from the main mixer: each node may have players and at most one other node as inputs.
    std::vector<AudioNode*> chain{main.get()};
    for (AudioNode* node = main.get();;) {
        AudioNode* upstream = nullptr;
        for (const auto& [from, to] : state_->connections) {
            if (to != node || from->kind() == AudioNode::Kind::player) {
                continue;
            }
            if (upstream != nullptr || std::find(chain.begin(), chain.end(), from) != chain.end()) {
                throw std::system_error(AudioEngineErrc::unsupportedTopology);
            }
            upstream = from;
        }
        if (upstream == nullptr) {
            break;
        }
        chain.insert(chain.begin(), upstream);
        node = upstream;
    }

    std::int64_t offset = state_->framesBeforeGraph;
    if (state_->graph) {
        state_->graph->flushPending();
        offset = state_->graph->framesRendered();
    }
    auto graph = std::make_unique<rt::RenderGraph>(output_->sampleRate(), output_->maximumFramesPerRender(),
                                                   output_->isManual(), offset, state_->voices,
                                                   state_->commands, state_->events);
    // A node's render twin: a mixer, or an effect unit reading the parameters the unit publishes.
    const auto makeStage = [&](AudioNode& node, std::size_t index) -> std::unique_ptr<rt::Stage> {
        const auto unit = [&]<class Unit, class Made>() {
            return std::make_unique<Made>(static_cast<Unit&>(node).parameters_);
        };
        switch (node.kind()) {
        case AudioNode::Kind::mixer: {
            auto& mixer = static_cast<AudioMixerNode&>(node);
            return std::make_unique<rt::MixerStage>(mixer.mixerId_, index, mixer.parameters_, state_->voices,
                                                    graph->sink(), output_->isManual());
        }
        case AudioNode::Kind::timePitch:
            return unit.operator()<AudioUnitTimePitch, rt::TimePitchStage>();
        case AudioNode::Kind::varispeed:
            return unit.operator()<AudioUnitVarispeed, rt::VarispeedStage>();
        case AudioNode::Kind::delay:
            return unit.operator()<AudioUnitDelay, rt::DelayStage>();
        case AudioNode::Kind::reverb:
            return unit.operator()<AudioUnitReverb, rt::ReverbStage>();
        case AudioNode::Kind::eq:
            return unit.operator()<AudioUnitEQ, rt::EqStage>();
        case AudioNode::Kind::player:
            break;
        }
        throw std::system_error(AudioEngineErrc::unsupportedTopology);
    };
    rt::Stage* upstream = nullptr;
    for (std::size_t index = 0; index < chain.size(); ++index) {
        AudioNode* node = chain[index];
        auto stage = makeStage(*node, index);
        // A unit needs something upstream; only a mixer may begin the chain.
        if (upstream == nullptr && node->kind() != AudioNode::Kind::mixer) {
            throw std::system_error(AudioEngineErrc::unsupportedTopology);
        }
        stage->setUpstream(upstream);
        upstream = stage.get();
        graph->append(std::move(stage));
    }
    graph->prepare();
    state_->graph = std::move(graph);
    state_->topologyDirty = false;
}

void AudioEngine::start() {
    if (running_) {
        return;
    }
    if (!state_->graph || state_->topologyDirty) {
        rebuildGraph();
    }
    try {
        output_->start(*state_->graph);
    } catch (const std::system_error& error) {
        SomnaraLogger::log(std::string{"Audio output failed to start: "} + error.what(), LogType::error);
        throw;
    }
    running_ = true;
    if (!output_->isManual()) {
        // Events wait in their queue until collected. A completion is heard only the device's latency
        // after its last frame was rendered, and its time is reckoned from that frame (see
        // collectEvents), so collecting at about twice the latency delays nothing much: a device with a
        // quarter second of latency wakes the loop twice a second for it, not fifty times.
        state_->collectionPeriod = std::clamp(2 * output_->latencySeconds(), 0.02, 0.5);
        armCollector();
    }
}

void AudioEngine::stop() {
    if (!running_) {
        return;
    }
    output_->stop();
    running_ = false;
    if (state_->collector) {
        Loop::current().cancelTimer(*state_->collector);
        state_->collector.reset();
    }
    collectEvents();
}

void AudioEngine::reset() {
    for (auto* player : state_->owners) {
        if (player != nullptr) {
            player->playing_ = false;
            sendPlayerCommand(*player, static_cast<int>(rt::RenderCommand::Kind::stop));
        }
    }
    if (state_->graph) {
        if (running_) {
            state_->graph->requestReset();
        } else {
            state_->graph->resetStages();
        }
    }
    collectEvents();
}

void AudioEngine::setOutput(std::shared_ptr<AudioOutput> output) {
    if (running_) {
        throw std::system_error(AudioEngineErrc::running);
    }
    const bool rateChanged = output->sampleRate() != output_->sampleRate();
    output_ = std::move(output);
    state_->topologyDirty = true;
    if (rateChanged) {
        // Decoded sounds are at the old rate: take every queued item out, so their buffers go.
        for (auto* player : state_->owners) {
            if (player != nullptr) {
                sendPlayerCommand(*player, static_cast<int>(rt::RenderCommand::Kind::stop));
                if (player->playing_) {
                    sendPlayerCommand(*player, static_cast<int>(rt::RenderCommand::Kind::play));
                }
            }
        }
        collectEvents();
    }
}

void AudioEngine::renderOffline(float* left, float* right, std::size_t frames) {
    if (!output_->isManual()) {
        throw std::system_error(AudioEngineErrc::notManual);
    }
    moveWaitingCommands();
    output_->render(left, right, frames);
    collectEvents();
}

void AudioEngine::sendCommand(const rt::RenderCommand& command) {
    moveWaitingCommands();
    auto& waiting = state_->waitingCommands;
    if (waiting.empty() && state_->commands.push(command)) {
        return;
    }
    if (waiting.empty()) {
        // The render thread has not taken commands for a while (or waits for the loop to collect its
        // events); dropping one could leave a sound's loop without its next copy.
        SomnaraLogger::log("The render command queue is full: commands wait on the loop", LogType::error);
    }
    waiting.push_back(command);
}

void AudioEngine::sendToVoice(const rt::RenderCommand& command) {
    sendCommand(command);
    if (!running_) {
        applyCommandsWhileStopped();
    }
}

void AudioEngine::moveWaitingCommands() {
    auto& waiting = state_->waitingCommands;
    while (!waiting.empty() && state_->commands.push(waiting.front())) {
        waiting.pop_front();
    }
}

void AudioEngine::applyCommandsWhileStopped() {
    // No render thread runs: the loop may apply the commands to the voices itself.
    StoppedSink sink{state_->events, [this] { collectEvents(); }};
    for (;;) {
        moveWaitingCommands();
        const auto command = state_->commands.pop();
        if (!command) {
            break;
        }
        if (command->voice < maximumPlayerCount) {
            state_->voices[command->voice].apply(*command, command->voice, sink);
        }
    }
    collectEvents();
}

void AudioEngine::armCollector() {
    auto& loop = Loop::current();
    const auto due = loop.continuousNow() +
                     std::chrono::duration_cast<std::chrono::nanoseconds>(Seconds{state_->collectionPeriod});
    state_->collector = loop.addTimer(due, Seconds{0.02}, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->state_->collector.reset();
            self->collectEvents();
            if (self->running_) {
                self->armCollector();
            }
        }
    });
}

void AudioEngine::collectEvents() {
    auto& loop = Loop::current();
    moveWaitingCommands();
    while (auto event = state_->events.pop()) {
        if (event->kind == rt::RenderEvent::Kind::underrun) {
            underruns_ += event->count;
            SomnaraLogger::log("Audio underrun: " + std::to_string(event->count) + " blocks", LogType::debug);
            continue;
        }
        const auto found = state_->items.find(event->item);
        if (found == state_->items.end()) {
            continue;
        }
        State::Item item = std::move(found->second);
        state_->items.erase(found);
        // The render side is done with the ring: the worker may stop filling it, and it goes.
        item.buffer->abandoned_.store(true, std::memory_order_relaxed);
        if (!item.completion) {
            continue;
        }
        const PlaybackCompletion completion{event->kind == rt::RenderEvent::Kind::playedBack,
                                            event->outputFrame};
        // Played back means heard: wait out the device's own latency, less the time since the item's
        // last frame was rendered.
        const double wait =
            completion.playedBack
                ? output_->latencySeconds() -
                      static_cast<double>(framesRendered() - event->outputFrame) / output_->sampleRate()
                : 0.0;
        if (wait > 0.0) {
            loop.addTimer(
                loop.continuousNow() + std::chrono::duration_cast<std::chrono::nanoseconds>(Seconds{wait}),
                Seconds{0.002}, [handler = std::move(item.completion), completion] { handler(completion); });
        } else {
            loop.post([handler = std::move(item.completion), completion] { handler(completion); });
        }
    }
}

void AudioEngine::sendGain(const AudioPlayerNode& player, int kind, float value, double seconds) {
    if (player.voice_ < 0) {
        return;
    }
    rt::RenderCommand command =
        commandTo(player.voice_, player.generation_, static_cast<rt::RenderCommand::Kind>(kind));
    command.value = value;
    command.frames = static_cast<std::uint32_t>(std::lround(seconds * output_->sampleRate()));
    sendToVoice(command);
}

void AudioEngine::sendPlayerCommand(const AudioPlayerNode& player, int kind) {
    if (player.voice_ < 0) {
        return;
    }
    const rt::RenderCommand command =
        commandTo(player.voice_, player.generation_, static_cast<rt::RenderCommand::Kind>(kind));
    sendToVoice(command);
    if (command.kind == rt::RenderCommand::Kind::claimVoice) {
        // A new owner is routed wherever it is connected.
        const auto found = state_->connections.find(const_cast<AudioPlayerNode*>(&player));
        rt::RenderCommand route =
            commandTo(player.voice_, player.generation_, rt::RenderCommand::Kind::route);
        route.item = unrouted;
        if (found != state_->connections.end() && found->second->kind() == AudioNode::Kind::mixer) {
            route.item = static_cast<AudioMixerNode*>(found->second)->mixerId_;
        }
        sendToVoice(route);
    }
}

void AudioEngine::scheduleItem(AudioPlayerNode& player, std::shared_ptr<AudioFile> file,
                               AudioPlayerNode::CompletionHandler completion) {
    const std::int64_t length = AudioDecoder::lengthAt(*file, output_->sampleRate());
    auto buffer = std::make_shared<rt::PcmBuffer>(length, file->fitsSixteenBits());
    rt::PcmBuffer* rendered = buffer.get();
    state_->decoder->decode(std::move(file), buffer, output_->sampleRate(), &player);
    const std::uint64_t id = state_->nextItem++;
    state_->items.emplace(id, State::Item{std::move(completion), std::move(buffer)});

    rt::RenderCommand command =
        commandTo(player.voice_, player.generation_, rt::RenderCommand::Kind::schedule);
    command.item = id;
    command.buffer = rendered;
    sendToVoice(command);
}

} // namespace somnara
