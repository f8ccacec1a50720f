#include "coverage/breakpoint_table.h"

#include <algorithm>

namespace {

// Never an address of code: marks a freed bucket, beside address 0 for an empty one.
constexpr CodeAddress kFreedAddress = ~CodeAddress{0};
// A shard that a settle left less than this full shrinks, so that an unloaded image's slots do
// not outlive it; half the growth threshold, so that a shard never swings between the two.
constexpr float kShrinkBelow = 0.2f;

} // namespace

BreakpointTable::BreakpointTable() {
    for (Shard& shard : shards_) {
        // Address 0 never holds code; it marks an empty bucket.
        shard.set_empty_key(0);
        shard.set_deleted_key(kFreedAddress);
        shard.set_resizing_parameters(kShrinkBelow, 0.8f);
    }
}

void BreakpointTable::settle(CodeAddress base, const std::vector<ImageOffset>& offsets) {
    for (ImageOffset offset : offsets) {
        const CodeAddress address = base + offset;
        Shard& shard = shards_[shard_index(address)];
        const auto found = shard.find(address);
        if (found == shard.end())
            continue;
        BreakpointEntry entry = found->second;
        if (entry.state() != BreakpointState::hit) {
            entry.set_state(BreakpointState::retired);
            entry.set_saved_byte(kBreakpointByte);
        }
        settled_.emplace_back(address, entry);
        shard.erase(found);
    }
    for (Shard& shard : shards_)
        shard.resize(0); // shrinks a shard that the erasures left sparse
    if (settled_.size() >= 2 * settled_merged_)
        merge_settled();
}

void BreakpointTable::merge_settled() {
    std::sort(settled_.begin(), settled_.end(), [](const Settled& first, const Settled& second) {
        if (first.second.file() != second.second.file())
            return first.second.file() < second.second.file();
        if (first.second.line != second.second.line)
            return first.second.line < second.second.line;
        return first.first < second.first;
    });
    auto kept = settled_.begin();
    for (auto at = settled_.begin(); at != settled_.end(); ++at) {
        if (at != settled_.begin() && at->second.file() == kept->second.file() &&
            at->second.line == kept->second.line) {
            if (at->second.state() == BreakpointState::hit)
                kept->second.set_state(BreakpointState::hit);
            continue;
        }
        if (at != settled_.begin())
            ++kept;
        *kept = *at;
    }
    if (!settled_.empty())
        settled_.erase(kept + 1, settled_.end());
    settled_.shrink_to_fit();
    settled_merged_ = settled_.size();
}

std::size_t BreakpointTable::size() const {
    std::size_t total = settled_.size();
    for (const Shard& shard : shards_)
        total += shard.size();
    return total;
}

void BreakpointTable::clear() {
    for (Shard& shard : shards_)
        shard.clear();
    settled_.clear();
    settled_merged_ = 0;
}
