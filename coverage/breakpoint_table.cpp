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

void BreakpointTable::settle(CodeAddress base, const std::vector<ImageOffset>& offsets,
                             std::uint32_t load) {
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
        if (load == kNoLoad)
            settled_.push_back(Settled{address, entry});
        else
            settled_loads_.push_back(SettledWithLoad{address, entry, load});
        shard.erase(found);
    }
    for (Shard& shard : shards_)
        shard.resize(0); // shrinks a shard that the erasures left sparse
    const std::size_t settled = settled_.size() + settled_loads_.size();
    if (settled >= 2 * settled_merged_) {
        merge_settled(settled_);
        merge_settled(settled_loads_);
        settled_merged_ = settled_.size() + settled_loads_.size();
    }
}

template <typename List> void BreakpointTable::merge_settled(List& list) {
    using Line = typename List::value_type;
    std::sort(list.begin(), list.end(), [](const Line& first, const Line& second) {
        if (first.entry.file() != second.entry.file())
            return first.entry.file() < second.entry.file();
        if (first.entry.line != second.entry.line)
            return first.entry.line < second.entry.line;
        if (first.address != second.address)
            return first.address < second.address;
        return load_of(first) < load_of(second);
    });
    auto kept = list.begin();
    for (auto at = list.begin(); at != list.end(); ++at) {
        if (at != list.begin() && at->entry.file() == kept->entry.file() &&
            at->entry.line == kept->entry.line) {
            if (at->entry.state() == BreakpointState::hit)
                kept->entry.set_state(BreakpointState::hit);
            continue;
        }
        if (at != list.begin())
            ++kept;
        *kept = *at;
    }
    if (!list.empty())
        list.erase(kept + 1, list.end());
    list.shrink_to_fit();
}

std::size_t BreakpointTable::size() const {
    std::size_t total = settled_.size() + settled_loads_.size();
    for (const Shard& shard : shards_)
        total += shard.size();
    return total;
}

void BreakpointTable::clear() {
    for (Shard& shard : shards_)
        shard.clear();
    settled_.clear();
    settled_loads_.clear();
    settled_merged_ = 0;
}
