#pragma once

#include <memory>

namespace somnara {

class AudioEngine;

/// A node of the audio graph: a player, a mixer or an effect unit. Nodes are made on their own and then
/// attached to an engine, which keeps them alive while they are attached.
///
/// Threads: loop only. What a node's render twin needs crosses as published targets (atomics) or as
/// commands in the engine's queue.
class AudioNode : public std::enable_shared_from_this<AudioNode> {
public:
    enum class Kind { player, mixer, timePitch, varispeed, delay, reverb, eq };

    AudioNode(const AudioNode&) = delete;
    AudioNode& operator=(const AudioNode&) = delete;
    virtual ~AudioNode() = default;

    Kind kind() const noexcept { return kind_; }
    /// The engine this node is attached to; none until it is attached, or after it was detached.
    std::shared_ptr<AudioEngine> engine() const noexcept { return engine_.lock(); }

protected:
    explicit AudioNode(Kind kind) noexcept : kind_(kind) {}

private:
    friend class AudioEngine;

    // Loop only.
    const Kind kind_;
    std::weak_ptr<AudioEngine> engine_;
};

} // namespace somnara
