// The store of one coverage run.
#include "coverage/coverage_database.h"

#include <cstdint>
#include <cstring>
#include <utility>

std::size_t SourceNameHash::operator()(const char* name) const {
    // Arithmetic modulo 2^32 on both builds, each byte taken as signed.
    std::uint32_t h = 0;
    if (name != nullptr) {
        for (const char* p = name; *p != '\0'; ++p) {
            h = 5 * h +
                static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(*p)));
        }
    }
    return h;
}

bool SourceNameEqual::operator()(const char* first, const char* second) const {
    if (first == nullptr || second == nullptr) {
        return first == second;
    }
    return std::strcmp(first, second) == 0;
}

CoverageDatabase::CoverageDatabase(const char* command_text, const char* work_folder,
                                   const char* source_folder, bool existing_files_only,
                                   bool function_names, bool show_debug_output, HWND notify_window,
                                   volatile LONG* cancel_flag)
    : command_text(command_text), work_folder(work_folder), source_folder(source_folder),
      existing_files_only(existing_files_only), function_names(function_names),
      show_debug_output(show_debug_output), notify_window(notify_window), cancel_flag(cancel_flag) {
    source_files.set_empty_key(nullptr);
    file_names_.push_back(nullptr); // kNoSourceFile
}

CoverageDatabase::~CoverageDatabase() {
    // The table holds the names as plain pointers; they were handed over as unique_ptr<char[]>.
    for (auto& file : source_files) {
        delete[] file.first;
    }
    // Function names, the symbol path and the containers' storage free themselves.
}

bool CoverageDatabase::find_source_file(const char* name, std::uint32_t* file) const {
    const auto found = source_files.find(name);
    if (found == source_files.end()) {
        return false;
    }
    *file = found->second;
    return true;
}

std::uint32_t CoverageDatabase::add_source_file(std::unique_ptr<char[]> name, bool accepted) {
    // A name entered twice keeps its first copy and index, so every index handed out stays valid.
    const auto found = source_files.find(name.get());
    if (found != source_files.end()) {
        return found->second;
    }
    // Only accepted names take an index. The entry keeps it in kSourceFileBits bits; a name
    // beyond the last index is kept as not accepted, so its lines stay out of the table rather
    // than be written under another file's name.
    std::uint32_t file = kNoSourceFile;
    if (accepted && file_names_.size() < file_limit_) {
        file = static_cast<std::uint32_t>(file_names_.size());
        file_names_.push_back(name.get());
    }
    source_files.insert(std::make_pair(name.release(), file));
    return file;
}
