// The noise player's audio graph: building it once, starting it, and rebuilding it when the output
// changes under it.

#include <somnara/player/NoisePlayer.hpp>
#include <somnara/system/SomnaraLogger.hpp>

#include <algorithm>
#include <exception>

namespace somnara {

namespace {

void debug(std::string message) {
    SomnaraLogger::log(std::move(message), LogType::debug);
}

} // namespace

std::map<SoundTrack, std::shared_ptr<SoundTrackPlayerNode>> NoisePlayer::makePlayers() const {
    std::map<SoundTrack, std::shared_ptr<SoundTrackPlayerNode>> nodes;
    for (const auto& soundTrack : SoundTrack::allCases()) {
        nodes.emplace(soundTrack, std::make_shared<SoundTrackPlayerNode>(soundTrack, audioFileFactory_));
    }
    return nodes;
}

asio::awaitable<void> NoisePlayer::configureEngine() {
    if (isEngineConfigured_) {
        debug("Engine already configured");
        co_return;
    }
    // A configuration that starts while another still opens the files waits for that one instead of
    // building the graph twice.
    if (configuring_ && !configuring_->isFinished()) {
        co_await configuring_->value();
        co_return;
    }
    configuring_ =
        spawn([self = shared_from_this()]() -> asio::awaitable<void> { co_await self->buildGraph(); });
    co_await configuring_->value();
}

asio::awaitable<void> NoisePlayer::buildGraph() {
    const auto nodes = players();
    std::vector<std::shared_ptr<AudioPlayerNode>> playerNodes;
    for (const auto& [soundTrack, node] : nodes) {
        playerNodes.push_back(node->audioPlayerNode());
        engine_->attach(node->audioPlayerNode());
    }
    // The bands are laid out for the lowest rate among the files; a file that cannot be opened is left
    // out, and its node stays in the graph all the same.
    std::optional<double> lowestRate;
    for (const auto& [soundTrack, node] : nodes) {
        auto request = audioFileFactory_->audioFile(soundTrack);
        const auto file = co_await request.value();
        if (file) {
            const double rate = file->processingFormat().sampleRate;
            lowestRate = std::min(lowestRate.value_or(rate), rate);
        }
    }
    // The output runs at the files' rate, so that nothing is resampled before the sound server.
    if (lowestRate && *lowestRate != engine_->sampleRate() && !engine_->isRunning()) {
        engine_->setOutput(platform_.makeOutput(*lowestRate));
    }
    graph_->configure(playerNodes, lowestRate);
    spawn([weak = weak_from_this(), nodes]() -> asio::awaitable<void> {
        if (auto self = weak.lock()) {
            std::vector<std::shared_ptr<SoundTrackPlayerNode>> all;
            for (const auto& [soundTrack, node] : nodes) {
                all.push_back(node);
            }
            self->oscillator_->setPlayers(std::move(all));
            self->oscillator_->restart();
        }
        co_return;
    });
    isEngineConfigured_ = true;
}

asio::awaitable<void> NoisePlayer::startEngine() {
    co_await startSession();
    if (engine_->isRunning()) {
        debug("Engine already running");
        co_return;
    }
    debug("Starting engine");
    std::exception_ptr failure;
    try {
        engine_->start();
        debug("Engine started");
    } catch (const std::exception& error) {
        SomnaraLogger::log(std::string("Failed to start engine ") + error.what(), LogType::error);
        failure = std::current_exception();
    }
    if (failure) {
        co_await reconfigureEngine();
        std::rethrow_exception(failure);
    }
}

asio::awaitable<void> NoisePlayer::reconfigureEngine() {
    SomnaraLogger::log("Reconfiguring engine", LogType::defaultLevel);
    debug("Stopping engine");
    engine_->stop();
    stopSession();
    engine_->reset();
    isEngineConfigured_ = false;
    for (const auto& [soundTrack, node] : players()) {
        engine_->detach(node->audioPlayerNode());
    }
    players_ = makePlayers();
    co_await configureEngine();
}

Task<void> NoisePlayer::stopEngine() {
    return runOnPlayer([](std::shared_ptr<NoisePlayer> self) -> asio::awaitable<void> {
        debug("Stopping engine");
        self->engine_->stop();
        self->stopSession();
        co_return;
    });
}

void NoisePlayer::applySoundSettings(const SoundSettings& settings) {
    graph_->applySoundSettings(settings);
    oscillator_->setSettings(settings.oscillation);
}

} // namespace somnara
