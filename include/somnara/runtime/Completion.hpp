#pragma once

#include <somnara/runtime/Loop.hpp>
#include <somnara/runtime/UniqueFunction.hpp>

#include <asio/associated_executor.hpp>
#include <asio/post.hpp>

#include <memory>
#include <utility>

namespace somnara::detail {

/// The pending completion of one of our asynchronous operations (a sleep, a stream's next element, a
/// task's value), type-erased so that operation state can hold it. Completing it never resumes the
/// waiting coroutine inline: the resumption is posted, so a producer is never re-entered by its
/// consumer. While pending it is parked on the loop, which abandons it if the loop goes first.
template <class... Args>
class Completion {
public:
    Completion() = default;

    template <class Handler>
    static Completion from(Handler&& handler) {
        auto& loop = Loop::current();
        auto executor = asio::get_associated_executor(handler, loop.executor());
        return Completion{
            loop, UniqueFunction<void(Args...)>{[handler = std::forward<Handler>(handler),
                                                 executor](Args... args) mutable {
                asio::post(executor, [handler = std::move(handler), ... args = std::move(args)]() mutable {
                    std::move(handler)(std::move(args)...);
                });
            }}};
    }

    explicit operator bool() const noexcept { return node_ && node_->function; }

    /// Completes once; later calls do nothing.
    void operator()(Args... args) {
        if (!node_) {
            return;
        }
        auto function = std::move(node_->function);
        node_.reset();
        if (function) {
            function(std::move(args)...);
        }
    }

private:
    struct Node final : Loop::ParkedHandler {
        Node(Loop& owner, UniqueFunction<void(Args...)> handler)
            : function(std::move(handler)), loop(&owner), id(owner.park(*this)) {}
        ~Node() {
            if (loop != nullptr) {
                loop->unpark(id);
            }
        }

        void abandon() noexcept override {
            loop = nullptr;
            // Destroying the handler destroys the waiting coroutine, which may own this node:
            // nothing of the node is touched after this line.
            [[maybe_unused]] auto dropped = std::move(function);
        }

        UniqueFunction<void(Args...)> function;
        Loop* loop;
        std::uint64_t id;
    };

    Completion(Loop& loop, UniqueFunction<void(Args...)> function)
        : node_(std::make_unique<Node>(loop, std::move(function))) {}

    std::unique_ptr<Node> node_;
};

} // namespace somnara::detail
