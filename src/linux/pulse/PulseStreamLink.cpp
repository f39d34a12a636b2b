#include "linux/pulse/PulseStreamLink.hpp"

namespace somnara {

PulseStreamLink& PulseStreamLink::shared() {
    static PulseStreamLink link;
    return link;
}

std::uint64_t PulseStreamLink::attach(Stream& stream, const std::string& sinkName) {
    stream_ = &stream;
    sinkName_ = sinkName;
    ++generation_;
    if (listener_ != nullptr) {
        listener_->streamAttached(sinkName_);
    }
    return generation_;
}

void PulseStreamLink::detach(std::uint64_t generation) {
    if (generation != generation_ || stream_ == nullptr) {
        return;
    }
    stream_ = nullptr;
    if (listener_ != nullptr) {
        listener_->streamDetached();
    }
}

void PulseStreamLink::setCorked(bool corked) noexcept {
    if (stream_ != nullptr) {
        stream_->setCorked(corked);
    }
}

void PulseStreamLink::unmute() noexcept {
    if (stream_ != nullptr) {
        stream_->unmute();
    }
}

void PulseStreamLink::setListener(Listener& listener) {
    listener_ = &listener;
    if (stream_ != nullptr) {
        listener_->streamAttached(sinkName_);
    }
}

void PulseStreamLink::removeListener(const Listener& listener) noexcept {
    if (listener_ == &listener) {
        listener_ = nullptr;
    }
}

void PulseStreamLink::report(Loop& loop, std::uint64_t generation, Event event, std::string sinkName) {
    loop.post([generation, event, sinkName = std::move(sinkName)] {
        shared().deliver(generation, event, sinkName);
    });
}

void PulseStreamLink::deliver(std::uint64_t generation, Event event, const std::string& sinkName) {
    if (generation != generation_ || stream_ == nullptr) {
        return;
    }
    sinkName_ = sinkName;
    if (listener_ != nullptr) {
        listener_->streamEvent(event, sinkName);
    }
}

} // namespace somnara
