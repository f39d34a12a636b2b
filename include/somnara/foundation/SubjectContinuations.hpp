#pragma once

#include <somnara/runtime/AsyncStream.hpp>

#include <array>
#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

namespace somnara {

/// The subscriber table that both subjects share: the producer ends of the open subscriptions, keyed
/// by a random 128-bit identifier.
template <class Element>
class SubjectContinuations {
public:
    using Id = std::array<std::uint64_t, 2>;

    Id add(typename AsyncStream<Element>::Continuation continuation) {
        const Id id{random(), random()};
        entries_.emplace(id, std::move(continuation));
        return id;
    }

    /// Removing an identifier that is no longer there does nothing.
    void remove(const Id& id) { entries_.erase(id); }

    void yieldToAll(const Element& value) const {
        for (const auto& continuation : snapshot()) {
            continuation.yield(value);
        }
    }

    void finishAll() {
        // Finishing runs termination handlers, which may look at the table: finish a snapshot.
        auto finishing = snapshot();
        entries_.clear();
        for (const auto& continuation : finishing) {
            continuation.finish();
        }
    }

    std::size_t size() const noexcept { return entries_.size(); }

private:
    struct IdHash {
        std::size_t operator()(const Id& id) const noexcept {
            return id[0] ^ (id[1] * 0x9e3779b97f4a7c15ull);
        }
    };

    static std::uint64_t random() {
        static std::mt19937_64 generator{std::random_device{}()};
        return generator();
    }

    std::vector<typename AsyncStream<Element>::Continuation> snapshot() const {
        std::vector<typename AsyncStream<Element>::Continuation> continuations;
        continuations.reserve(entries_.size());
        for (const auto& [id, continuation] : entries_) {
            continuations.push_back(continuation);
        }
        return continuations;
    }

    std::unordered_map<Id, typename AsyncStream<Element>::Continuation, IdHash> entries_;
};

} // namespace somnara
