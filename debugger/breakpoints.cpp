#include "debugger/breakpoints.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "app/cancel.h"

namespace {

// Queued addresses closer than this share one read and one write: the lines of one code
// section sit far closer together, while separate images lie at least this far apart.
constexpr CodeAddress kSpanGap = 0x10000;
// An upper bound on one span, so that a huge code section never asks for one huge block.
constexpr CodeAddress kSpanLimit = 0x400000;

LPVOID remote(CodeAddress address) {
    return reinterpret_cast<LPVOID>(address);
}

bool read_target(HANDLE process, CodeAddress address, void* buffer, SIZE_T size) {
    SIZE_T done = 0;
    return ReadProcessMemory(process, remote(address), buffer, size, &done) && done == size;
}

bool write_once(HANDLE process, CodeAddress address, const void* buffer, SIZE_T size) {
    SIZE_T done = 0;
    return WriteProcessMemory(process, remote(address), buffer, size, &done) && done == size;
}

// Writes into code pages: directly first (the usual case costs one call), and only when that
// fails region by region with the protection opened and restored around the write.
bool write_target(HANDLE process, CodeAddress address, const std::uint8_t* buffer, SIZE_T size) {
    if (write_once(process, address, buffer, size))
        return true;
    CodeAddress end = address + size;
    while (address < end) {
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQueryEx(process, remote(address), &region, sizeof(region)) == 0)
            return false;
        CodeAddress region_end = reinterpret_cast<CodeAddress>(region.BaseAddress) +
                                 static_cast<CodeAddress>(region.RegionSize);
        SIZE_T piece = static_cast<SIZE_T>(std::min(end, region_end) - address);
        DWORD previous = 0;
        if (!VirtualProtectEx(process, region.BaseAddress, region.RegionSize,
                              PAGE_EXECUTE_READWRITE, &previous))
            return false;
        bool written = write_once(process, address, buffer, piece);
        DWORD ignored = 0;
        bool restored = VirtualProtectEx(process, region.BaseAddress, region.RegionSize, previous,
                                         &ignored) != 0;
        if (!written || !restored)
            return false;
        address += piece;
        buffer += piece;
    }
    return true;
}

// Plants the lines of one image from its sorted offsets. Only entries still waiting are
// planted: one hit, planted or found unplantable before is left alone.
class PlantingPass {
  public:
    PlantingPass(CoverageDatabase& database, CodeAddress base)
        : database_(database), process_(database.process), base_(base) {}

    // Plants the sorted offsets [first, last); false when the cancel flag was seen.
    bool plant(const ImageOffset* first, const ImageOffset* last) {
        while (first != last) {
            const ImageOffset* span_end = first + 1;
            while (span_end != last && *span_end - span_end[-1] < kSpanGap &&
                   *span_end - *first < kSpanLimit)
                ++span_end;
            if (!plant_span(first, span_end))
                return false;
            first = span_end;
        }
        return true;
    }

    bool wrote() const { return wrote_; }
    bool lost_lines() const { return lost_lines_; }

  private:
    CodeAddress address(const ImageOffset* at) const { return base_ + *at; }

    // The entry of a line that this pass still has to plant, else null.
    BreakpointEntry* waiting(CodeAddress address) const {
        BreakpointEntry* entry = database_.breakpoints.find(address);
        if (entry == nullptr || entry->state() != BreakpointState::unplanted)
            return nullptr;
        return entry;
    }

    // One read of the span, the breakpoint bytes patched into the copy, one write back. A span
    // that cannot be read is split by memory region, and a region that cannot be read is
    // planted entry by entry, so that one unreadable page costs no other line.
    bool plant_span(const ImageOffset* first, const ImageOffset* last) {
        CodeAddress base = address(first);
        SIZE_T size = static_cast<SIZE_T>(address(last - 1) - base + 1);
        copy_.resize(size);
        if (read_target(process_, base, copy_.data(), size))
            return patch_and_write(first, last, base);
        while (first != last) {
            MEMORY_BASIC_INFORMATION region{};
            if (VirtualQueryEx(process_, remote(address(first)), &region, sizeof(region)) == 0) {
                if (!plant_one(address(first)))
                    return false;
                ++first;
                continue;
            }
            CodeAddress region_end = reinterpret_cast<CodeAddress>(region.BaseAddress) +
                                     static_cast<CodeAddress>(region.RegionSize);
            const ImageOffset* piece_end = first;
            while (piece_end != last && address(piece_end) < region_end)
                ++piece_end;
            if (piece_end == first)
                ++piece_end; // a region that ends below its own query: take the entry alone
            base = address(first);
            size = static_cast<SIZE_T>(address(piece_end - 1) - base + 1);
            copy_.resize(size);
            if (read_target(process_, base, copy_.data(), size)) {
                if (!patch_and_write(first, piece_end, base))
                    return false;
            } else {
                for (const ImageOffset* at = first; at != piece_end; ++at)
                    if (!plant_one(address(at)))
                        return false;
            }
            first = piece_end;
        }
        return true;
    }

    bool patch_and_write(const ImageOffset* first, const ImageOffset* last, CodeAddress base) {
        std::size_t planted_from = copy_.size(), planted_to = 0;
        for (const ImageOffset* at = first; at != last; ++at) {
            if (cancel_requested(database_.cancel_flag)) {
                finish(first, at, base, planted_from, planted_to);
                return false;
            }
            BreakpointEntry* entry = waiting(address(at));
            if (entry == nullptr)
                continue;
            std::size_t offset = static_cast<std::size_t>(address(at) - base);
            if (copy_[offset] == kBreakpointByte) {
                // A breakpoint compiled into the target: planting over it would lose it.
                entry->set_state(BreakpointState::native_break);
                continue;
            }
            entry->set_saved_byte(copy_[offset]);
            copy_[offset] = kBreakpointByte;
            planted_from = std::min(planted_from, offset);
            planted_to = offset + 1;
        }
        finish(first, last, base, planted_from, planted_to);
        return true;
    }

    // Writes the patched part of the copy and records the outcome of every entry in it.
    void finish(const ImageOffset* first, const ImageOffset* last, CodeAddress base,
                std::size_t from, std::size_t to) {
        if (from >= to)
            return;
        bool written = write_target(process_, base + from, copy_.data() + from, to - from);
        for (const ImageOffset* at = first; at != last; ++at) {
            BreakpointEntry* entry = waiting(address(at));
            if (entry == nullptr)
                continue;
            if (written) {
                entry->set_state(BreakpointState::planted);
            } else if (!write_target(process_, address(at), &kBreakpointByte, 1)) {
                mark_unplantable(*entry);
                continue;
            } else {
                entry->set_state(BreakpointState::planted);
            }
        }
        wrote_ = true;
    }

    // The one-byte path for an entry that no span read could reach.
    bool plant_one(CodeAddress address) {
        if (cancel_requested(database_.cancel_flag))
            return false;
        BreakpointEntry* entry = waiting(address);
        if (entry == nullptr)
            return true;
        std::uint8_t original = 0;
        if (!read_target(process_, address, &original, 1)) {
            mark_unplantable(*entry);
            return true;
        }
        if (original == kBreakpointByte) {
            entry->set_state(BreakpointState::native_break);
            return true;
        }
        if (!write_target(process_, address, &kBreakpointByte, 1)) {
            mark_unplantable(*entry);
            return true;
        }
        entry->set_saved_byte(original);
        entry->set_state(BreakpointState::planted);
        wrote_ = true;
        return true;
    }

    void mark_unplantable(BreakpointEntry& entry) {
        entry.set_saved_byte(kBreakpointByte);
        entry.set_state(BreakpointState::unplantable);
        lost_lines_ = true;
    }

    CoverageDatabase& database_;
    HANDLE process_;
    CodeAddress base_;
    std::vector<std::uint8_t> copy_;
    bool wrote_ = false;
    bool lost_lines_ = false;
};

// Puts the code byte that a breakpoint replaced back and moves the thread onto it. A byte that
// cannot be put back strands the thread: rewound, it would meet our 0xCC again without end, and
// left alone it would run on from the middle of the instruction.
bool restore_code_byte(const CoverageDatabase& database, HANDLE thread, CodeAddress address,
                       std::uint8_t saved, bool* stranded) {
    if (!write_target(database.process, address, &saved, 1)) {
        if (stranded != nullptr)
            *stranded = true;
        return false;
    }
    FlushInstructionCache(database.process, remote(address), 1);
    return rewind_thread(thread, address, database.wow64_target);
}

} // namespace

bool plant_breakpoints(CoverageDatabase& database, ModuleRecord& module) {
    // In address order, each line once: the spans follow the code, and the list kept for the
    // image's unload loses its repeats.
    std::vector<ImageOffset>& offsets = module.offsets;
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    if (offsets.empty())
        return true;

    PlantingPass pass(database, module.base);
    bool completed = pass.plant(offsets.data(), offsets.data() + offsets.size());
    if (pass.wrote())
        FlushInstructionCache(database.process, nullptr, 0);
    return completed && !pass.lost_lines();
}

bool handle_breakpoint_hit(CoverageDatabase& database, HANDLE thread, CodeAddress address,
                           bool* stranded) {
    BreakpointEntry* found = database.breakpoints.find(address);
    if (found == nullptr)
        return true; // the loader's breakpoint, or one of the target's own
    BreakpointEntry& entry = *found;
    HANDLE process = database.process;

    switch (entry.state()) {
    case BreakpointState::planted: {
        const std::uint8_t saved = entry.saved_byte();
        entry.set_saved_byte(kBreakpointByte);
        entry.set_state(BreakpointState::hit);
        return restore_code_byte(database, thread, address, saved, stranded);
    }
    case BreakpointState::hit: {
        // A second thread that reached the line before its byte was restored runs the
        // restored instruction; a breakpoint of the target's own at a hit line runs on.
        std::uint8_t current = 0;
        if (!read_target(process, address, &current, 1))
            return false;
        return current == kBreakpointByte || rewind_thread(thread, address, database.wow64_target);
    }
    case BreakpointState::native_break:
        // The target's own breakpoint at a line start: the line ran, the breakpoint stays.
        entry.set_state(BreakpointState::hit);
        return true;
    default:
        // Not planted by us (waiting or unplantable): the target's own breakpoint.
        return true;
    }
}

bool plant_watch(HANDLE process, CodeAddress address, std::uint8_t* saved_byte) {
    std::uint8_t original = 0;
    if (!read_target(process, address, &original, 1))
        return false;
    *saved_byte = original;
    if (original == kBreakpointByte)
        return true;
    if (!write_target(process, address, &kBreakpointByte, 1))
        return false;
    FlushInstructionCache(process, remote(address), 1);
    return true;
}

bool clear_watch(const CoverageDatabase& database, HANDLE thread, CodeAddress address,
                 std::uint8_t saved_byte, bool* stranded) {
    return restore_code_byte(database, thread, address, saved_byte, stranded);
}
