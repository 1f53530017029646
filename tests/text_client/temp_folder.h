#pragma once

// A temporary folder for one test, removed with everything in it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/temp_dir.h"

namespace ecr::testing_support {

class TempFolder {
public:
    // The folder, ending with "/".
    const std::string& Path() const { return path_; }

    std::string Sub(const std::string& name) const {
        std::filesystem::create_directories(path_ + name);
        return path_ + name + "/";
    }

private:
    TempDir folder_;
    std::string path_ = folder_.Path().string() + "/";
};

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace ecr::testing_support
