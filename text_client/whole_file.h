#pragma once

// Writing whole files for the selling client: every byte of a buffer, and a file replaced
// whole so that a kill or a full disk leaves the old content or the new one.
//
// Plain functions; safe from any thread.

#include <string>
#include <string_view>

namespace ecr {

// Writes all of `data` to `fd` (a short write goes on); false with errno set on failure.
bool WriteAll(int fd, std::string_view data);

// Writes `content` beside `path`, syncs it and renames it over `path` (mode 0644 for a new
// file); false with errno set when `path` was left as it was.
bool ReplaceWholeFile(const std::string& path, std::string_view content);

}  // namespace ecr
