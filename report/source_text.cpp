#include "report/source_text.h"

#include <fstream>

std::vector<std::string> source_candidates(const std::string& recorded) {
    std::vector<std::string> candidates{recorded};
    bool on_z = recorded.size() >= 3 && (recorded[0] == 'Z' || recorded[0] == 'z') &&
                recorded[1] == ':' && (recorded[2] == '\\' || recorded[2] == '/');
    if (on_z) {
        std::string unix_path = recorded.substr(2);
        for (char& c : unix_path) {
            if (c == '\\')
                c = '/';
        }
        candidates.push_back(unix_path);
    }
    return candidates;
}

bool read_source(const std::string& recorded, std::vector<std::string>& lines,
                 std::string& read_from) {
    for (const std::string& candidate : source_candidates(recorded)) {
        std::ifstream in(candidate, std::ios::binary);
        if (!in)
            continue;
        lines.clear();
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
        }
        if (in.bad())
            continue;
        read_from = candidate;
        return true;
    }
    return false;
}
