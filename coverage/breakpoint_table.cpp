#include "coverage/breakpoint_table.h"

BreakpointTable::BreakpointTable() {
    for (Shard& shard : shards_) {
        // Address 0 never holds code; it marks an empty bucket. Never shrinking: entries are
        // not erased but for clear().
        shard.set_empty_key(0);
        shard.set_resizing_parameters(0.0f, 0.8f);
    }
}

std::size_t BreakpointTable::size() const {
    std::size_t total = 0;
    for (const Shard& shard : shards_)
        total += shard.size();
    return total;
}

void BreakpointTable::clear() {
    for (Shard& shard : shards_)
        shard.clear();
}
