#pragma once

#include <somnara/foundation/SubjectContinuations.hpp>

#include <memory>
#include <utility>

namespace somnara {

/// Publishes a value to any number of subscribers and keeps the last one, which every new subscriber
/// receives first, so that it always starts from the present state.
///
/// An open subscription keeps the subject alive until its stream has ended. Loop only.
template <class Element>
class AsyncCurrentValueSubject : public std::enable_shared_from_this<AsyncCurrentValueSubject<Element>> {
    struct Private {};

public:
    AsyncCurrentValueSubject(Private, Element initial) : currentValue_(std::move(initial)) {}

    static std::shared_ptr<AsyncCurrentValueSubject> make(Element initial) {
        return std::make_shared<AsyncCurrentValueSubject>(Private{}, std::move(initial));
    }

    ~AsyncCurrentValueSubject() { continuations_.finishAll(); }

    const Element& currentValue() const noexcept { return currentValue_; }

    /// A stream that starts with the current value and then carries every value sent.
    [[nodiscard]] AsyncStream<Element> subscribe() {
        auto [stream, continuation] = AsyncStream<Element>::make();
        const auto id = continuations_.add(continuation);
        continuation.yield(currentValue_);
        // The handler holds the subject strongly: an open subscription keeps it alive.
        continuation.onTermination([self = this->shared_from_this(), id](StreamTermination) {
            Loop::current().post([self, id] { self->continuations_.remove(id); });
        });
        return std::move(stream);
    }

    void send(Element value) {
        currentValue_ = std::move(value);
        continuations_.yieldToAll(currentValue_);
    }

    /// Ends every open stream after what it has queued; later subscriptions work as before.
    void finish() { continuations_.finishAll(); }

    std::size_t subscriberCount() const noexcept { return continuations_.size(); }

private:
    SubjectContinuations<Element> continuations_;
    Element currentValue_;
};

} // namespace somnara
