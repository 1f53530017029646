#include "platform/dir_search.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

namespace ecr {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool WildcardMatchNoCase(std::string_view name, std::string_view pattern) {
    // Iterative matching with one remembered "*" position: linear in practice, no recursion.
    std::size_t n = 0, p = 0;
    std::size_t starAt = std::string_view::npos, resumeName = 0;
    while (n < name.size()) {
        // "*" first: it is a wildcard even where the name holds a "*" itself.
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeName = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
            ++n;
            ++p;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            n = ++resumeName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::vector<std::string> FindMatchingFiles(const std::string& folder, std::string_view pattern) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()),
                                            ::closedir);
    if (!dir) return names;
    while (dirent* entry = ::readdir(dir.get())) {
        std::string_view name = entry->d_name;
        if (name == "." || name == ".." || !WildcardMatchNoCase(name, pattern)) continue;
        std::string full = folder;
        if (!full.empty() && full.back() != '/') full += '/';
        full += name;
        struct stat info {};
        if (::stat(full.c_str(), &info) == 0 && S_ISREG(info.st_mode)) names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace ecr
