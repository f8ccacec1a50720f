// The sharded breakpoint table against an ordered map: every entry stays findable with its
// fields while the shards grow, and a walk visits each entry once.
#include "coverage/breakpoint_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

namespace {

using Fields = std::tuple<std::uint32_t, std::uint32_t, std::uint8_t, BreakpointState>;

Fields fields_of(const BreakpointEntry& entry) {
    return Fields{entry.file(), entry.line, entry.saved_byte(), entry.state()};
}

// A million line starts spread over 64 KiB-aligned images of one layout (the lines of DLLs built
// alike, which once piled into the same buckets) and over the whole address range; some
// addresses come twice and must keep their first entry.
TEST(BreakpointTable, AMillionEntriesStayFindableAcrossShardGrowth) {
    BreakpointTable table;
    std::map<CodeAddress, Fields> model;
    std::uint64_t random = 88172645463325252ULL;
    auto next = [&random] {
        random ^= random << 13;
        random ^= random >> 7;
        random ^= random << 17;
        return random;
    };
    for (std::uint32_t i = 0; i < 1000000; ++i) {
        const std::uint64_t bits = next();
        CodeAddress address;
        if (i % 2 == 0)
            address =
                static_cast<CodeAddress>(0x10000000 + (i / 2 % 500) * 0x10000 + (i / 1000) * 6 + 1);
        else
            address = static_cast<CodeAddress>(bits | 1);
        if (i % 10 == 9)
            address = model.begin()->first + (bits % 3); // met before, or a neighbour
        const BreakpointEntry entry{
            static_cast<std::uint32_t>(bits >> 40) % (kSourceFileLimit - 1) + 1,
            static_cast<std::uint32_t>(bits >> 8), static_cast<std::uint8_t>(bits >> 16),
            static_cast<BreakpointState>(bits % 6)};
        const auto stored = table.insert(address, entry);
        const auto modelled = model.emplace(address, fields_of(entry));
        ASSERT_EQ(modelled.second, stored.second) << i;
        ASSERT_EQ(modelled.first->second, fields_of(*stored.first)) << i;
    }
    ASSERT_EQ(model.size(), table.size());
    for (const auto& item : model) {
        const BreakpointEntry* found = table.find(item.first);
        ASSERT_NE(nullptr, found) << item.first;
        ASSERT_EQ(item.second, fields_of(*found)) << item.first;
    }
    std::size_t visited = 0;
    table.for_each([&](CodeAddress address, const BreakpointEntry& entry) {
        const auto modelled = model.find(address);
        ASSERT_NE(model.end(), modelled);
        EXPECT_EQ(modelled->second, fields_of(entry));
        ++visited;
    });
    EXPECT_EQ(model.size(), visited);
    for (std::uint32_t i = 0; i < 1000; ++i) {
        const CodeAddress absent = static_cast<CodeAddress>(next() & ~CodeAddress{1});
        if (absent != 0 && model.count(absent) == 0) {
            EXPECT_EQ(nullptr, table.find(absent));
        }
    }
    // A change through find() lands in the stored entry.
    const CodeAddress first = model.begin()->first;
    table.find(first)->set_state(BreakpointState::hit);
    EXPECT_EQ(BreakpointState::hit, table.find(first)->state());
    table.clear();
    EXPECT_TRUE(table.empty());
    EXPECT_EQ(nullptr, table.find(first));
}

// An image loaded and unloaded again and again at one base: each unload frees its addresses
// for the next load and keeps its lines' outcomes, merged by file and line (hit when any load
// hit it, retired otherwise), never more than twice the lines however many loads.
TEST(BreakpointTable, SettledLinesFreeTheirAddressesAndMergeAcrossReloads) {
    BreakpointTable table;
    const CodeAddress base = 0x6e000000;
    std::vector<ImageOffset> offsets;
    for (ImageOffset i = 0; i < 1000; ++i)
        offsets.push_back(i * 8);
    for (std::uint32_t load = 0; load < 50; ++load) {
        for (std::uint32_t i = 0; i < 1000; ++i) {
            const BreakpointState state =
                i % 100 == load ? BreakpointState::hit : BreakpointState::planted;
            ASSERT_TRUE(
                table.insert(base + offsets[i], BreakpointEntry{1, i + 1, 0x55, state}).second)
                << load << " " << i;
        }
        table.settle(base, offsets);
        ASSERT_EQ(nullptr, table.find(base + offsets[7]));
        ASSERT_LE(table.size(), 2000u) << load;
    }
    std::map<std::uint32_t, bool> reached;
    table.for_each([&](CodeAddress, const BreakpointEntry& entry) {
        reached[entry.line] |= entry.state() == BreakpointState::hit;
        if (entry.state() != BreakpointState::hit) {
            EXPECT_EQ(BreakpointState::retired, entry.state());
            EXPECT_EQ(0xCC, entry.saved_byte());
        }
    });
    ASSERT_EQ(1000u, reached.size());
    for (const auto& line : reached)
        EXPECT_EQ((line.first - 1) % 100 < 50, line.second) << line.first;
}

} // namespace
