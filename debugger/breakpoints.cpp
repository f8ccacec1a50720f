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

class PlantingPass {
  public:
    explicit PlantingPass(CoverageDatabase& database)
        : database_(database), process_(database.process) {}

    // Plants the sorted addresses [first, last); false when the cancel flag was seen.
    bool plant(const CodeAddress* first, const CodeAddress* last) {
        while (first != last) {
            const CodeAddress* span_end = first + 1;
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
    // One read of the span, the breakpoint bytes patched into the copy, one write back. A span
    // that cannot be read is split by memory region, and a region that cannot be read is
    // planted entry by entry, so that one unreadable page costs no other line.
    bool plant_span(const CodeAddress* first, const CodeAddress* last) {
        CodeAddress base = *first;
        SIZE_T size = static_cast<SIZE_T>(last[-1] - base + 1);
        copy_.resize(size);
        if (read_target(process_, base, copy_.data(), size))
            return patch_and_write(first, last, base);
        while (first != last) {
            MEMORY_BASIC_INFORMATION region{};
            if (VirtualQueryEx(process_, remote(*first), &region, sizeof(region)) == 0) {
                if (!plant_one(*first))
                    return false;
                ++first;
                continue;
            }
            CodeAddress region_end = reinterpret_cast<CodeAddress>(region.BaseAddress) +
                                     static_cast<CodeAddress>(region.RegionSize);
            const CodeAddress* piece_end = first;
            while (piece_end != last && *piece_end < region_end)
                ++piece_end;
            if (piece_end == first)
                ++piece_end; // a region that ends below its own query: take the entry alone
            base = *first;
            size = static_cast<SIZE_T>(piece_end[-1] - base + 1);
            copy_.resize(size);
            if (read_target(process_, base, copy_.data(), size)) {
                if (!patch_and_write(first, piece_end, base))
                    return false;
            } else {
                for (const CodeAddress* at = first; at != piece_end; ++at)
                    if (!plant_one(*at))
                        return false;
            }
            first = piece_end;
        }
        return true;
    }

    bool patch_and_write(const CodeAddress* first, const CodeAddress* last, CodeAddress base) {
        std::size_t planted_from = copy_.size(), planted_to = 0;
        for (const CodeAddress* at = first; at != last; ++at) {
            if (cancel_requested(database_.cancel_flag)) {
                finish(first, at, base, planted_from, planted_to);
                return false;
            }
            std::size_t offset = static_cast<std::size_t>(*at - base);
            BreakpointEntry& entry = database_.breakpoints[*at];
            if (copy_[offset] == kBreakpointByte) {
                // A breakpoint compiled into the target: planting over it would lose it.
                entry.state = BreakpointState::native_break;
                continue;
            }
            entry.saved_byte = copy_[offset];
            copy_[offset] = kBreakpointByte;
            planted_from = std::min(planted_from, offset);
            planted_to = offset + 1;
        }
        finish(first, last, base, planted_from, planted_to);
        return true;
    }

    // Writes the patched part of the copy and records the outcome of every entry in it.
    void finish(const CodeAddress* first, const CodeAddress* last, CodeAddress base,
                std::size_t from, std::size_t to) {
        if (from >= to)
            return;
        bool written = write_target(process_, base + from, copy_.data() + from, to - from);
        for (const CodeAddress* at = first; at != last; ++at) {
            BreakpointEntry& entry = database_.breakpoints[*at];
            if (entry.state != BreakpointState::unplanted)
                continue;
            if (written) {
                entry.state = BreakpointState::planted;
            } else if (!write_target(process_, *at, &kBreakpointByte, 1)) {
                mark_unplantable(entry);
                continue;
            } else {
                entry.state = BreakpointState::planted;
            }
        }
        wrote_ = true;
    }

    // The one-byte path for an entry that no span read could reach.
    bool plant_one(CodeAddress address) {
        if (cancel_requested(database_.cancel_flag))
            return false;
        BreakpointEntry& entry = database_.breakpoints[address];
        std::uint8_t original = 0;
        if (!read_target(process_, address, &original, 1)) {
            mark_unplantable(entry);
            return true;
        }
        if (original == kBreakpointByte) {
            entry.state = BreakpointState::native_break;
            return true;
        }
        if (!write_target(process_, address, &kBreakpointByte, 1)) {
            mark_unplantable(entry);
            return true;
        }
        entry.saved_byte = original;
        entry.state = BreakpointState::planted;
        wrote_ = true;
        return true;
    }

    void mark_unplantable(BreakpointEntry& entry) {
        entry.saved_byte = kBreakpointByte;
        entry.state = BreakpointState::unplantable;
        lost_lines_ = true;
    }

    CoverageDatabase& database_;
    HANDLE process_;
    std::vector<std::uint8_t> copy_;
    bool wrote_ = false;
    bool lost_lines_ = false;
};

// Moves the thread back onto the breakpoint's own address when it stands just past it.
bool rewind_thread(HANDLE thread, CodeAddress address) {
    CONTEXT context{};
    context.ContextFlags = kInstructionPointerContext;
    if (!GetThreadContext(thread, &context))
        return false;
    if (instruction_pointer(context) != static_cast<InstructionPointer>(address + 1))
        return true;
    instruction_pointer(context) = static_cast<InstructionPointer>(address);
    return SetThreadContext(thread, &context) != 0;
}

} // namespace

bool plant_breakpoints(CoverageDatabase& database) {
    std::vector<CodeAddress>& queue = database.unplanted;
    std::sort(queue.begin(), queue.end());
    queue.erase(std::unique(queue.begin(), queue.end()), queue.end());
    // Only entries still waiting are planted: one hit, retired or planted since it was queued
    // is left alone.
    queue.erase(std::remove_if(queue.begin(), queue.end(),
                               [&](CodeAddress address) {
                                   auto found = database.breakpoints.find(address);
                                   return found == database.breakpoints.end() ||
                                          found->second.state != BreakpointState::unplanted;
                               }),
                queue.end());
    if (queue.empty())
        return true;

    PlantingPass pass(database);
    bool completed = pass.plant(queue.data(), queue.data() + queue.size());
    if (pass.wrote())
        FlushInstructionCache(database.process, nullptr, 0);
    // What a cancelled pass did not reach stays queued for a later one.
    queue.erase(std::remove_if(queue.begin(), queue.end(),
                               [&](CodeAddress address) {
                                   return database.breakpoints[address].state !=
                                          BreakpointState::unplanted;
                               }),
                queue.end());
    if (queue.empty())
        std::vector<CodeAddress>().swap(queue); // its peak size is not kept for the whole run
    return completed && !pass.lost_lines();
}

bool handle_breakpoint_hit(CoverageDatabase& database, HANDLE thread, CodeAddress address) {
    auto found = database.breakpoints.find(address);
    if (found == database.breakpoints.end())
        return true; // the loader's breakpoint, or one of the target's own
    BreakpointEntry& entry = found->second;
    HANDLE process = database.process;

    switch (entry.state) {
    case BreakpointState::planted: {
        bool restored = write_target(process, address, &entry.saved_byte, 1);
        entry.saved_byte = kBreakpointByte;
        entry.state = BreakpointState::hit;
        if (!restored)
            return false; // rewinding onto our own 0xCC would repeat this event without end
        FlushInstructionCache(process, remote(address), 1);
        return rewind_thread(thread, address);
    }
    case BreakpointState::hit: {
        // A second thread that reached the line before its byte was restored runs the
        // restored instruction; a breakpoint of the target's own at a hit line runs on.
        std::uint8_t current = 0;
        if (!read_target(process, address, &current, 1))
            return false;
        return current == kBreakpointByte || rewind_thread(thread, address);
    }
    case BreakpointState::native_break:
        // The target's own breakpoint at a line start: the line ran, the breakpoint stays.
        entry.state = BreakpointState::hit;
        return true;
    default:
        // Not planted by us (waiting, unplantable or retired): the target's own breakpoint.
        return true;
    }
}
