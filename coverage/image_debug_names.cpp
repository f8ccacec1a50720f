// Reads an image's section table and DWARF strings from the file itself, to tell whether the
// symbol handler could name any source file under the source folder.
#include "coverage/image_debug_names.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "coverage/path_fold.h"

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using MappingHandle = std::unique_ptr<void, HandleCloser>;

struct ViewUnmapper {
    void operator()(const void* view) const { UnmapViewOfFile(view); }
};
using MappedView = std::unique_ptr<const void, ViewUnmapper>;

std::uint32_t little32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The bytes of the whole file; every read is bounds-checked, in 64 bits so that no sum wraps.
class FileBytes {
  public:
    FileBytes(const unsigned char* data, std::uint64_t size) : data_(data), size_(size) {}

    bool holds(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    bool read16(std::uint64_t offset, std::uint32_t* value) const {
        if (!holds(offset, 2))
            return false;
        *value = static_cast<std::uint32_t>(data_[offset] | data_[offset + 1] << 8);
        return true;
    }
    bool read32(std::uint64_t offset, std::uint32_t* value) const {
        if (!holds(offset, 4))
            return false;
        *value = little32(at(offset));
        return true;
    }
    const unsigned char* at(std::uint64_t offset) const {
        return data_ + static_cast<std::size_t>(offset);
    }
    std::uint64_t size() const { return size_; }

  private:
    const unsigned char* data_;
    std::uint64_t size_;
};

// The sections whose strings the symbol handler joins into source names.
enum DebugSection { kInfo, kAbbrev, kLine, kLineStr, kStr, kTypes, kDebugSectionCount };
const char* const kDebugSectionNames[kDebugSectionCount] = {
    ".debug_info", ".debug_abbrev", ".debug_line", ".debug_line_str", ".debug_str", ".debug_types"};

struct SectionBytes {
    const unsigned char* data = nullptr;
    std::size_t size = 0;      // what the section holds: its virtual size when that is smaller
    std::size_t scan_size = 0; // every file byte that a reader of the section may see
    bool present = false;
};

bool starts_with(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// A section's name: inline, or "/<decimal offset>" into the COFF string table.
bool section_name(const FileBytes& file, std::uint64_t header, std::uint64_t string_table,
                  bool has_string_table, std::string* name) {
    const char* inline_name = reinterpret_cast<const char*>(file.at(header));
    std::size_t length = 0;
    while (length < 8 && inline_name[length] != '\0')
        ++length;
    if (length == 0 || inline_name[0] != '/') {
        name->assign(inline_name, length);
        return true;
    }
    if (!has_string_table || length < 2)
        return false;
    std::uint64_t offset = 0;
    for (std::size_t i = 1; i < length; ++i) {
        if (inline_name[i] < '0' || inline_name[i] > '9')
            return false; // "//" base-64 offsets and anything else: not read here
        offset = offset * 10 + static_cast<std::uint64_t>(inline_name[i] - '0');
    }
    std::uint32_t table_size = 0;
    if (!file.read32(string_table, &table_size) || !file.holds(string_table, table_size) ||
        offset < 4 || offset >= table_size)
        return false;
    const char* start = reinterpret_cast<const char*>(file.at(string_table + offset));
    const void* end = std::memchr(start, '\0', static_cast<std::size_t>(table_size - offset));
    if (end == nullptr)
        return false;
    name->assign(start, static_cast<const char*>(end));
    return true;
}

// Finds the DWARF sections of a well-formed PE image without a debug directory, stabs, or
// compressed or separate debug information; false for anything else.
bool read_sections(const FileBytes& file, SectionBytes* sections, std::uint32_t* image_size) {
    std::uint32_t value = 0;
    if (!file.read16(0, &value) || value != 0x5a4d) // "MZ"
        return false;
    std::uint32_t pe = 0;
    if (!file.read32(0x3c, &pe) || !file.read32(pe, &value) || value != 0x00004550) // "PE\0\0"
        return false;
    const std::uint64_t file_header = static_cast<std::uint64_t>(pe) + 4;
    std::uint32_t section_count = 0, symbol_table = 0, symbol_count = 0, optional_size = 0;
    if (!file.read16(file_header + 2, &section_count) ||
        !file.read32(file_header + 8, &symbol_table) ||
        !file.read32(file_header + 12, &symbol_count) ||
        !file.read16(file_header + 16, &optional_size))
        return false;
    const std::uint64_t optional = file_header + 20;
    if (!file.holds(optional, optional_size))
        return false;

    std::uint32_t magic = 0;
    if (optional_size < 60 || !file.read16(optional, &magic) ||
        !file.read32(optional + 56, image_size))
        return false;
    std::uint64_t directory_count_at = 0;
    if (magic == 0x10b)
        directory_count_at = 92;
    else if (magic == 0x20b)
        directory_count_at = 108;
    else
        return false;
    const std::uint64_t directories = directory_count_at + 4;
    const std::uint64_t debug_directory = directories + 6 * 8;
    std::uint32_t directory_count = 0;
    if (optional_size >= directories &&
        (!file.read32(optional + directory_count_at, &directory_count)))
        return false;
    if (directory_count > 6) {
        // Any debug directory entry (CodeView, COFF, MISC, ...) lets the handler read more.
        std::uint32_t address = 0, size = 0;
        if (optional_size < debug_directory + 8 ||
            !file.read32(optional + debug_directory, &address) ||
            !file.read32(optional + debug_directory + 4, &size) || address != 0 || size != 0)
            return false;
    }

    const std::uint64_t headers = optional + optional_size;
    if (!file.holds(headers, static_cast<std::uint64_t>(section_count) * 40))
        return false;
    const std::uint64_t string_table =
        static_cast<std::uint64_t>(symbol_table) + static_cast<std::uint64_t>(symbol_count) * 18;
    for (std::uint32_t i = 0; i < section_count; ++i) {
        const std::uint64_t header = headers + static_cast<std::uint64_t>(i) * 40;
        std::string name;
        if (!section_name(file, header, string_table, symbol_table != 0, &name))
            return false;
        const std::uint32_t virtual_size = little32(file.at(header + 8));
        const std::uint32_t raw_size = little32(file.at(header + 16));
        const std::uint32_t raw_offset = little32(file.at(header + 20));
        if (raw_size != 0 && !file.holds(raw_offset, raw_size))
            return false;
        if (starts_with(name, ".gnu_debug") || starts_with(name, ".stab") ||
            starts_with(name, ".zdebug"))
            return false;
        for (int kind = 0; kind < kDebugSectionCount; ++kind) {
            if (name != kDebugSectionNames[kind])
                continue;
            SectionBytes& section = sections[kind];
            if (section.present)
                return false; // two of a kind: which one the handler reads is not ours to guess
            section.present = true;
            if (raw_size == 0)
                break;
            section.data = file.at(raw_offset);
            section.size = virtual_size != 0 && virtual_size < raw_size ? virtual_size : raw_size;
            std::uint64_t scan = virtual_size > raw_size ? virtual_size : raw_size;
            if (scan > file.size() - raw_offset)
                scan = file.size() - raw_offset;
            section.scan_size = static_cast<std::size_t>(scan);
        }
    }
    return true;
}

const unsigned char kSeparator = fold_path_char('/');

// Whether a name built from the string at `start` can begin with the folder: the folder is
// matched in full before the string ends, or the string ends where a joined part may follow
// (after a '/' the handler inserts, or its own last separator).
bool name_may_begin(const unsigned char* start, const unsigned char* end,
                    const unsigned char* folder, std::size_t folder_length) {
    for (std::size_t k = 0;; ++k) {
        if (k == folder_length)
            return true;
        if (start + k == end || start[k] == '\0')
            return k != 0 && (fold_path_char(folder[k]) == kSeparator ||
                              fold_path_char(start[k - 1]) == kSeparator);
        if (fold_path_char(start[k]) != fold_path_char(folder[k]))
            return false;
    }
}

// Strings may be tail-merged, so every byte may begin one: each byte that folds like the
// folder's first is tried.
bool bytes_may_name(const unsigned char* data, std::size_t size, const unsigned char* folder,
                    std::size_t folder_length) {
    const unsigned char* end = data + size;
    const unsigned char first = fold_path_char(folder[0]);
    for (int form = 1; form < 256; ++form) {
        if (fold_path_char(static_cast<unsigned char>(form)) != first)
            continue;
        const unsigned char* at = data;
        while (at < end) {
            at = static_cast<const unsigned char*>(
                std::memchr(at, form, static_cast<std::size_t>(end - at)));
            if (at == nullptr)
                break;
            if (name_may_begin(at, end, folder, folder_length))
                return true;
            ++at;
        }
    }
    return false;
}

struct Folder {
    const unsigned char* bytes;
    std::size_t length;
};

// A bounds-checked reader of one unit.
struct Cursor {
    const unsigned char* at;
    const unsigned char* end;

    bool skip(std::uint64_t count) {
        if (count > static_cast<std::uint64_t>(end - at))
            return false;
        at += count;
        return true;
    }
    bool fixed(unsigned count, std::uint64_t* value) {
        if (count > static_cast<std::size_t>(end - at))
            return false;
        *value = 0;
        for (unsigned i = 0; i < count; ++i)
            *value |= static_cast<std::uint64_t>(at[i]) << (8 * i);
        at += count;
        return true;
    }
    bool leb(std::uint64_t* value) {
        *value = 0;
        for (unsigned shift = 0; at < end; shift += 7) {
            const unsigned char byte = *at++;
            if (shift < 64)
                *value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
            if ((byte & 0x80) == 0)
                return true;
        }
        return false;
    }
    bool string() {
        const void* nul = std::memchr(at, '\0', static_cast<std::size_t>(end - at));
        if (nul == nullptr)
            return false;
        at = static_cast<const unsigned char*>(nul) + 1;
        return true;
    }
};

// Steps over one attribute value of 32-bit DWARF 2 to 5; false for a form not known here.
bool skip_form(Cursor& cursor, std::uint64_t form, unsigned version, unsigned address_size) {
    std::uint64_t value = 0;
    switch (form) {
    case 0x19: // flag_present
    case 0x21: // implicit_const
        return true;
    case 0x0b:
    case 0x0c:
    case 0x11:
    case 0x25:
    case 0x29:
        return cursor.skip(1);
    case 0x05:
    case 0x12:
    case 0x26:
    case 0x2a:
        return cursor.skip(2);
    case 0x27:
    case 0x2b:
        return cursor.skip(3);
    case 0x06:
    case 0x0e:
    case 0x13:
    case 0x17:
    case 0x1c:
    case 0x1d:
    case 0x1f:
    case 0x28:
    case 0x2c:
    case 0x1f20:
    case 0x1f21:
        return cursor.skip(4);
    case 0x07:
    case 0x14:
    case 0x20:
    case 0x24:
        return cursor.skip(8);
    case 0x1e:
        return cursor.skip(16);
    case 0x01:
        return cursor.skip(address_size);
    case 0x10: // ref_addr: an address in DWARF 2, an offset later
        return cursor.skip(version == 2 ? address_size : 4);
    case 0x0d:
    case 0x0f:
    case 0x15:
    case 0x1a:
    case 0x1b:
    case 0x22:
    case 0x23:
    case 0x1f01:
    case 0x1f02:
        return cursor.leb(&value);
    case 0x08:
        return cursor.string();
    case 0x0a:
        return cursor.fixed(1, &value) && cursor.skip(value);
    case 0x03:
        return cursor.fixed(2, &value) && cursor.skip(value);
    case 0x04:
        return cursor.fixed(4, &value) && cursor.skip(value);
    case 0x09:
    case 0x18:
        return cursor.leb(&value) && cursor.skip(value);
    default:
        return false;
    }
}

constexpr std::uint64_t kCompDir = 0x1b;
constexpr std::uint64_t kFormString = 0x08;

// Checks the compile folder of every unit of .debug_info: the one string of that section that
// the handler joins into line names. A folder given by offset lies in .debug_str or
// .debug_line_str, which are scanned whole. True when every unit was read and none may name.
bool compile_folders_miss(const SectionBytes& info, const SectionBytes& abbrev,
                          const Folder& folder) {
    std::size_t position = 0;
    while (position < info.size) {
        const std::uint32_t length = little32(info.data + position);
        Cursor unit{info.data + position + 4, info.data + position + 4 + length};
        position += 4 + static_cast<std::size_t>(length);
        std::uint64_t version = 0, unit_type = 1, address_size = 0, abbrev_offset = 0;
        unit.fixed(2, &version);
        if (version >= 5) {
            if (!unit.fixed(1, &unit_type) || !unit.fixed(1, &address_size) ||
                !unit.fixed(4, &abbrev_offset) || (unit_type != 1 && unit_type != 3))
                return false;
        } else if (!unit.fixed(4, &abbrev_offset) || !unit.fixed(1, &address_size)) {
            return false;
        }
        std::uint64_t code = 0;
        if (!unit.leb(&code))
            return false;
        if (code == 0 || abbrev_offset >= abbrev.size)
            return false;
        // The declaration of the unit's first entry.
        Cursor declarations{abbrev.data + abbrev_offset, abbrev.data + abbrev.size};
        for (;;) {
            std::uint64_t declared = 0, tag = 0, attribute = 0, form = 0, constant = 0;
            if (!declarations.leb(&declared) || declared == 0 || !declarations.leb(&tag) ||
                !declarations.skip(1))
                return false;
            if (declared == code)
                break;
            do {
                if (!declarations.leb(&attribute) || !declarations.leb(&form) ||
                    (form == 0x21 && !declarations.leb(&constant)))
                    return false;
            } while (attribute != 0 || form != 0);
        }
        for (;;) {
            std::uint64_t attribute = 0, form = 0, constant = 0;
            if (!declarations.leb(&attribute) || !declarations.leb(&form) ||
                (form == 0x21 && !declarations.leb(&constant)))
                return false;
            if (attribute == 0 && form == 0)
                break;             // no compile folder: the handler's "." is ruled out before
            while (form == 0x16) { // indirect
                if (!unit.leb(&form))
                    return false;
            }
            if (attribute == kCompDir && form == kFormString &&
                name_may_begin(unit.at, unit.end, folder.bytes, folder.length))
                return false;
            if (!skip_form(unit, form, static_cast<unsigned>(version),
                           static_cast<unsigned>(address_size)))
                return false;
        }
    }
    return true;
}

// Checks every unit of .debug_line: the strings of its header, and that its program defines
// no file of its own. True when every unit was read and none may name.
bool line_headers_miss(const SectionBytes& line, const Folder& folder) {
    std::size_t position = 0;
    while (position < line.size) {
        const unsigned char* unit_start = line.data + position;
        const std::uint32_t length = little32(unit_start);
        Cursor unit{unit_start + 4, unit_start + 4 + length};
        position += 4 + static_cast<std::size_t>(length);
        std::uint64_t version = 0, header_length = 0, opcode_base = 0;
        unit.fixed(2, &version);
        if (version >= 5 && !unit.skip(2))
            return false;
        if (!unit.fixed(4, &header_length) || !unit.skip(version >= 4 ? 5 : 4) ||
            !unit.fixed(1, &opcode_base) || opcode_base == 0)
            return false;
        const unsigned char* opcode_lengths = unit.at;
        if (!unit.skip(opcode_base - 1))
            return false;
        Cursor program{unit.at, unit.end};
        program.at = unit_start + 4 + 2 + (version >= 5 ? 2 : 0) + 4;
        if (!program.skip(header_length) || program.at < unit.at)
            return false;
        if (bytes_may_name(unit.at, static_cast<std::size_t>(program.at - unit.at), folder.bytes,
                           folder.length))
            return false;
        while (program.at < program.end) {
            const unsigned char opcode = *program.at++;
            std::uint64_t value = 0;
            if (opcode >= opcode_base)
                continue;
            if (opcode == 0) { // extended: a length, then the operation
                if (!program.leb(&value) || value == 0 || program.at == program.end ||
                    *program.at == 3 /* define_file */ || !program.skip(value))
                    return false;
            } else if (opcode == 9) { // fixed_advance_pc
                if (!program.skip(2))
                    return false;
            } else {
                for (unsigned i = 0; i < opcode_lengths[opcode - 1]; ++i)
                    if (!program.leb(&value))
                        return false;
            }
        }
    }
    return true;
}

// True when the units of a .debug_info or .debug_line section tile it exactly, all in 32-bit
// DWARF of versions 2 to 5, and at least one of versions 2 to 4, whose lines the handler reads.
bool units_are_read(const SectionBytes& section) {
    bool read = false;
    std::size_t position = 0;
    while (position < section.size) {
        const std::size_t left = section.size - position;
        if (left < 6)
            return false;
        const std::uint32_t length = little32(section.data + position);
        if (length >= 0xfffffff0u || length < 2 || length > left - 4)
            return false;
        const unsigned version = section.data[position + 4] | (section.data[position + 5] << 8);
        if (version < 2 || version > 5)
            return false;
        read = read || version <= 4;
        position += 4 + static_cast<std::size_t>(length);
    }
    return read;
}

// The names are built here as Wine's symbol handler builds them. Microsoft's reads no DWARF, so
// such an image gets no message there, and nothing is passed by.
bool symbol_handler_is_wine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace

bool image_lines_miss_folder(HANDLE image_file, const char* folder, std::uint32_t* image_size) {
    if (folder == nullptr || folder[0] == '\0')
        return false;
    // A part the handler makes up itself: "." for a missing compile folder, "" + "/" for an
    // empty one.
    const unsigned char first = fold_path_char(static_cast<unsigned char>(folder[0]));
    if (first == fold_path_char('.') || first == kSeparator)
        return false;
    static const bool wine = symbol_handler_is_wine();
    if (!wine)
        return false;

    LARGE_INTEGER file_size;
    if (!GetFileSizeEx(image_file, &file_size) || file_size.QuadPart <= 0 ||
        static_cast<std::uint64_t>(file_size.QuadPart) > SIZE_MAX)
        return false;
    MappingHandle mapping(CreateFileMappingA(image_file, nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping)
        return false;
    MappedView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view)
        return false;
    const FileBytes file(static_cast<const unsigned char*>(view.get()),
                         static_cast<std::uint64_t>(file_size.QuadPart));

    SectionBytes sections[kDebugSectionCount];
    std::uint32_t size = 0;
    if (!read_sections(file, sections, &size) || !units_are_read(sections[kInfo]) ||
        !units_are_read(sections[kLine]) || sections[kTypes].present)
        return false;
    // .debug_str and .debug_line_str hold only strings, whose every byte may begin a name;
    // of .debug_info and .debug_line only the parts that hold names are read, since their
    // other bytes would look like names by chance.
    const Folder wanted{reinterpret_cast<const unsigned char*>(folder), std::strlen(folder)};
    for (DebugSection strings : {kStr, kLineStr}) {
        const SectionBytes& section = sections[strings];
        if (bytes_may_name(section.data, section.scan_size, wanted.bytes, wanted.length))
            return false;
    }
    if (!compile_folders_miss(sections[kInfo], sections[kAbbrev], wanted) ||
        !line_headers_miss(sections[kLine], wanted))
        return false;
    *image_size = size;
    return true;
}
