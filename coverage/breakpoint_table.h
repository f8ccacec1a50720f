// The breakpoint entries of a run by code address: 8 bytes an entry, 16 a slot on x86_64.
#pragma once

#include <sparsehash/dense_hash_map>

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "debugger/arch.h"

// What the debugger has observed of one line's breakpoint. Only `hit` counts as reached: a line
// is written as run only when it was seen to run.
enum class BreakpointState : std::uint8_t {
    unplanted,    // entered by the scan; no breakpoint in the target yet
    planted,      // 0xCC is in the target; saved_byte holds the code byte it replaced
    hit,          // the line was seen to run; never planted again
    unplantable,  // its byte could not be read or written; never seen to run
    native_break, // the line's own first byte is 0xCC; reached when that breakpoint fires
    retired,      // its image was unloaded before the line ran (a settled line only)
};

// The serial of no image load: images are numbered from 1 as they load.
constexpr std::uint32_t kNoLoad = 0;

// The index of no source file: an all-zero entry names none. Names get 1 and up.
constexpr std::uint32_t kNoSourceFile = 0;
// File indices fit in kSourceFileBits bits, so the entry stays at 8 bytes.
constexpr unsigned kSourceFileBits = 21;
constexpr std::uint32_t kSourceFileLimit = std::uint32_t{1} << kSourceFileBits; // one past the last

// One line's breakpoint: its source file as an index into the database's names (equal names
// share one index), its line, and the state with the code byte it replaced, packed beside the
// index.
class BreakpointEntry {
  public:
    BreakpointEntry() : file_(0), state_(0), saved_byte_(0), line(0) {}
    BreakpointEntry(std::uint32_t file, std::uint32_t line_number, std::uint8_t saved_byte,
                    BreakpointState state)
        : file_(file), state_(static_cast<std::uint32_t>(state)), saved_byte_(saved_byte),
          line(line_number) {}

    std::uint32_t file() const { return file_; }
    void set_file(std::uint32_t file) { file_ = file; }
    BreakpointState state() const { return static_cast<BreakpointState>(state_); }
    void set_state(BreakpointState state) { state_ = static_cast<std::uint32_t>(state); }
    // The replaced code byte while planted, else 0xCC.
    std::uint8_t saved_byte() const { return static_cast<std::uint8_t>(saved_byte_); }
    void set_saved_byte(std::uint8_t byte) { saved_byte_ = byte; }

  private:
    std::uint32_t file_ : kSourceFileBits;
    std::uint32_t state_ : 3;
    std::uint32_t saved_byte_ : 8;

  public:
    std::uint32_t line;
};
static_assert(sizeof(BreakpointEntry) == 8, "a breakpoint entry packs into 8 bytes");
static_assert(static_cast<unsigned>(BreakpointState::retired) < 8, "the state fits in 3 bits");

// Each shard keeps the low bits of the hash. Images load at 64 KiB-aligned bases and DLLs built
// alike share their layout, so the address itself would pile the lines of every such image
// into the same buckets, and each DLL's scan would slow with the DLLs before it; the bits are
// mixed first (the 64-bit finaliser of MurmurHash3).
struct CodeAddressHash {
    std::size_t operator()(CodeAddress address) const {
        std::uint64_t mixed = static_cast<std::uint64_t>(address);
        mixed ^= mixed >> 33;
        mixed *= 0xff51afd7ed558ccdULL;
        mixed ^= mixed >> 33;
        mixed *= 0xc4ceb9fe1a85ec53ULL;
        mixed ^= mixed >> 33;
        return static_cast<std::size_t>(mixed);
    }
};

// The line entries of a run. The entries of loaded images are found by address: 64
// open-addressing tables side by side, each chosen by the top bits of the hash (the tables
// index by the low bits). A single table doubles all at once, and while it copies, its old and
// new bucket arrays both live: half again on top of the table. Here only one shard grows at a
// time, 1/64 of the table. Growing at 80% occupancy instead of the library's 50% keeps a
// 16-byte slot at 20 to 40 bytes a line.
//
// When an image is unloaded its entries are settled: moved, hit or retired, to a list kept for
// the log, so that their addresses are free for the next image and its lines are never written
// under another image's names. The list holds (address, entry) pairs, 16 bytes (12 on x86), in
// blocks that never move (with function names, the serial of the load that reported the line
// too: 24 bytes, 16 on x86); a line settled again by a reload merges with its earlier outcome
// when the list has doubled since it was last merged, so it never outgrows twice the distinct
// settled lines.
class BreakpointTable {
  public:
    BreakpointTable();

    // The entry of `address`, or null.
    BreakpointEntry* find(CodeAddress address) {
        Shard& shard = shards_[shard_index(address)];
        const auto found = shard.find(address);
        return found == shard.end() ? nullptr : &found->second;
    }
    const BreakpointEntry* find(CodeAddress address) const {
        const Shard& shard = shards_[shard_index(address)];
        const auto found = shard.find(address);
        return found == shard.end() ? nullptr : &found->second;
    }
    // Enters `entry` under a new address; an address met before keeps its entry. Returns the
    // stored entry and whether it is new.
    std::pair<BreakpointEntry*, bool> insert(CodeAddress address, const BreakpointEntry& entry) {
        const auto inserted = shards_[shard_index(address)].insert(std::make_pair(address, entry));
        return {&inserted.first->second, inserted.second};
    }
    // The entry of `address`, entered all zero when it had none.
    BreakpointEntry& operator[](CodeAddress address) {
        return shards_[shard_index(address)][address];
    }

    // Settles the entries of the image unloaded from `base`: each keeps its outcome (hit, or
    // retired when it did not run) under its file and line, and its address is freed. A `load`
    // other than kNoLoad is kept with each line (8 bytes more a settled line, 4 on x86), so that
    // its function can be told from those of a later image at the same addresses.
    void settle(CodeAddress base, const std::vector<ImageOffset>& offsets,
                std::uint32_t load = kNoLoad);

    // Entries live and settled.
    std::size_t size() const;
    bool empty() const { return size() == 0; }
    void clear();

    // Calls visit(address, entry) for every entry, live and settled, in no particular order.
    template <typename Visit> void for_each(Visit&& visit) {
        for (Shard& shard : shards_)
            for (auto& slot : shard)
                visit(slot.first, slot.second);
        for (auto& settled : settled_)
            visit(settled.address, settled.entry);
        for (auto& settled : settled_loads_)
            visit(settled.address, settled.entry);
    }
    // Calls visit(address, entry, load) for every entry: kNoLoad for a live one (its image's
    // record tells) and for one settled without its load.
    template <typename Visit> void for_each_with_load(Visit&& visit) const {
        for (const Shard& shard : shards_)
            for (const auto& slot : shard)
                visit(slot.first, static_cast<const BreakpointEntry&>(slot.second), kNoLoad);
        for (const auto& settled : settled_)
            visit(settled.address, settled.entry, kNoLoad);
        for (const auto& settled : settled_loads_)
            visit(settled.address, settled.entry, settled.load);
    }
    template <typename Visit> void for_each(Visit&& visit) const {
        for_each_with_load([&visit](CodeAddress address, const BreakpointEntry& entry,
                                    std::uint32_t) { visit(address, entry); });
    }

  private:
    using Shard = google::dense_hash_map<CodeAddress, BreakpointEntry, CodeAddressHash>;
    struct Settled {
        CodeAddress address;
        BreakpointEntry entry;
    };
    struct SettledWithLoad {
        CodeAddress address;
        BreakpointEntry entry;
        std::uint32_t load;
    };
    static std::uint32_t load_of(const Settled&) { return kNoLoad; }
    static std::uint32_t load_of(const SettledWithLoad& settled) { return settled.load; }
    static constexpr unsigned kShardBits = 6;

    static std::size_t shard_index(CodeAddress address) {
        return CodeAddressHash()(address) >> (sizeof(std::size_t) * 8 - kShardBits);
    }

    // One entry per file and line: hit when any was, at the lowest address (and load).
    template <typename List> static void merge_settled(List& list);

    std::array<Shard, std::size_t{1} << kShardBits> shards_;
    // A run settles into one of the two: with loads only when function names are asked for.
    std::deque<Settled> settled_;
    std::deque<SettledWithLoad> settled_loads_;
    std::size_t settled_merged_ = 0; // the lists' length after their last merge
};
