#pragma once

#include <somnara/foundation/SubjectContinuations.hpp>

#include <memory>

namespace somnara {

/// Publishes values to any number of subscribers without keeping any: a subscriber receives only
/// what is sent after it subscribed. An open subscription does not keep the subject alive; a
/// destroyed subject finishes its streams. Loop only.
template <class Element>
class AsyncPassthroughSubject : public std::enable_shared_from_this<AsyncPassthroughSubject<Element>> {
    struct Private {};

public:
    explicit AsyncPassthroughSubject(Private) {}

    static std::shared_ptr<AsyncPassthroughSubject> make() {
        return std::make_shared<AsyncPassthroughSubject>(Private{});
    }

    ~AsyncPassthroughSubject() { continuations_.finishAll(); }

    [[nodiscard]] AsyncStream<Element> subscribe() {
        auto [stream, continuation] = AsyncStream<Element>::make();
        const auto id = continuations_.add(continuation);
        continuation.onTermination(
            [weak = std::weak_ptr<AsyncPassthroughSubject>(this->shared_from_this()), id](StreamTermination) {
                Loop::current().post([weak, id] {
                    if (auto self = weak.lock()) {
                        self->continuations_.remove(id);
                    }
                });
            });
        return std::move(stream);
    }

    void send(const Element& value) { continuations_.yieldToAll(value); }

    void finish() { continuations_.finishAll(); }

    std::size_t subscriberCount() const noexcept { return continuations_.size(); }

private:
    SubjectContinuations<Element> continuations_;
};

} // namespace somnara
