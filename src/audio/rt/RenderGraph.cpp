#include "RenderGraph.hpp"

#include "audio/dsp/Denormals.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace somnara::rt {

RenderGraph::RenderGraph(double sampleRate, std::size_t maxFrames, bool waitForData, std::int64_t frameOffset,
                         std::span<Voice> voices, CommandQueue& commands, EventQueue& events)
    : sampleRate_(sampleRate), maxFrames_(maxFrames), waitForData_(waitForData), voices_(voices),
      commands_(commands), events_(events), frameOffset_(frameOffset), framesRendered_(frameOffset) {}

RenderGraph::~RenderGraph() = default;

void RenderGraph::append(std::unique_ptr<Stage> stage) {
    stages_.push_back(std::move(stage));
}

void RenderGraph::prepare() {
    for (auto& voice : voices_) {
        voice.prepare(sampleRate_);
    }
    for (auto& stage : stages_) {
        stage->prepare(sampleRate_, maxFrames_);
    }
}

std::size_t RenderGraph::heldItems() const noexcept {
    std::size_t held = pendingCount_;
    for (const auto& voice : voices_) {
        held += voice.queuedCount();
    }
    return held;
}

void RenderGraph::processCommands() noexcept {
    // A command adds at most one item, and ends only items already held: each taken uses up one place
    // of the room left after every held item's event.
    const std::size_t reserved = heldItems() + events_.size();
    std::size_t room = reserved < EventQueue::capacity ? EventQueue::capacity - reserved : 0;
    for (; room > 0; --room) {
        const auto command = commands_.pop();
        if (!command) {
            return;
        }
        if (command->voice < voices_.size()) {
            voices_[command->voice].apply(*command, command->voice, *this);
        }
    }
}

void RenderGraph::report(const RenderEvent& event) noexcept {
    // There is always room: commands are taken only while there is (see processCommands).
    [[maybe_unused]] const bool sent = events_.push(event);
    assert(sent && "an item's event found the event queue full");
}

void RenderGraph::itemEnded(std::size_t stage, double time, const RenderEvent& event) noexcept {
    if (pendingCount_ == pending_.size()) {
        // Never expected (a few items per player at most); reporting early beats losing it.
        RenderEvent now = event;
        now.outputFrame = framesRendered();
        report(now);
        return;
    }
    pending_[pendingCount_++] = Pending{event, stage, time};
}

void RenderGraph::advanceEvents() noexcept {
    const std::size_t last = stages_.size() - 1;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < pendingCount_; ++i) {
        Pending p = pending_[i];
        while (p.stage < last) {
            const Stage& next = *stages_[p.stage + 1];
            if (p.time > next.inputOut()) {
                break;
            }
            // The frame came out during this piece: place it by the share of upstream time the
            // piece covered.
            const double before = next.inputOutBefore();
            const double after = next.inputOut();
            const double share =
                after > before ? std::clamp((p.time - before) / (after - before), 0.0, 1.0) : 1.0;
            const auto produced = static_cast<double>(next.produced() - next.producedBefore());
            p.time = static_cast<double>(next.producedBefore()) + share * produced;
            ++p.stage;
        }
        if (p.stage == last) {
            p.event.outputFrame = frameOffset_ + static_cast<std::int64_t>(std::llround(p.time));
            report(p.event);
        } else {
            pending_[kept++] = p;
        }
    }
    pendingCount_ = kept;
}

void RenderGraph::flushPending() noexcept {
    for (std::size_t i = 0; i < pendingCount_; ++i) {
        RenderEvent event = pending_[i].event;
        event.outputFrame = framesRendered();
        report(event);
    }
    pendingCount_ = 0;
}

void RenderGraph::resetStages() noexcept {
    for (auto& stage : stages_) {
        stage->reset();
    }
    flushPending();
}

void RenderGraph::render(float* left, float* right, std::size_t frames) noexcept {
    const dsp::ScopedFlushDenormals denormals;
    if (resetRequested_.exchange(false, std::memory_order_acq_rel)) {
        resetStages();
    }
    processCommands();
    Stage& output = *stages_.back();
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t piece = std::min(maxFrames_, frames - done);
        for (auto& stage : stages_) {
            stage->markPiece();
            stage->applyParameters();
        }
        output.pull(left + done, right + done, piece);
        done += piece;
        advanceEvents();
    }
    framesRendered_.store(frameOffset_ + output.produced(), std::memory_order_relaxed);
    if (underruns_ > 0) {
        RenderEvent event;
        event.kind = RenderEvent::Kind::underrun;
        event.count = underruns_;
        event.outputFrame = framesRendered();
        // Only into room no held item needs; otherwise counted on until the next block.
        if (events_.size() + heldItems() < EventQueue::capacity && events_.push(event)) {
            underruns_ = 0;
        }
    }
}

} // namespace somnara::rt
