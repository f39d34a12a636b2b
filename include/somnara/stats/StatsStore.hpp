#pragma once

#include <somnara/stats/PlayEvent.hpp>

#include <vector>

namespace somnara {

/// Where the stats tracker keeps the whole listening history. Both operations are synchronous and
/// throw; the tracker calls them one at a time from the loop.
class StatsStore {
public:
    virtual ~StatsStore() = default;

    /// The whole history, oldest first as recorded. Throws when there is none yet or it cannot be read.
    virtual std::vector<PlayEvent> load() = 0;
    /// Replaces the stored history with `playEvents`.
    virtual void save(const std::vector<PlayEvent>& playEvents) = 0;
};

} // namespace somnara
