#pragma once

// Where a finished input file goes, and the guard that keeps an output file from being an
// input file.
//
// The search for input files lists "*." + InputExt in the input folder, letters compared
// without regard to case. When the output folder is that folder and an output name matches
// that pattern, finishing a file goes wrong: REPLACE of "day.inp" to "day.INP" (or to
// "day.inp" itself) deletes the file that is about to be moved, and every output file is
// found again at the next tick and finished once more. Such a target is refused: the file
// stays where it is.
//
// Plain functions of the settings and the file system; safe from any thread.

#include <string>
#include <string_view>

#include "text_client/client_settings.h"

namespace ecr {

// The names of unique output files begin so.
inline constexpr char kUniqueNamePrefix[] = "Wx";

// The pattern of the search for input files: "*." + InputExt.
std::string InputFilePattern(const ClientSettings& settings);

// The output actions that write a file into the output folder: "REPLACE", "APPEND" and
// "UNIQUE", compared byte for byte.
bool OutputActionWritesFile(std::string_view action);

// `name` with its extension replaced by "." + `extension` (appended when it has none).
std::string WithExtension(std::string_view name, std::string_view extension);

// True when the two folders are one folder. Where both exist, the file system decides
// (a final "/", "." and "..", symbolic links and the case rules of the file system all
// count as they do on disk); where neither exists, their paths are compared made absolute
// and normalised; where only one exists, they differ.
bool IsSameFolder(const std::string& first, const std::string& second);

// True when a file named `outputName` in the output folder would be found by the search
// for input files.
bool OutputNameIsInputFile(const ClientSettings& settings, std::string_view outputName);

// True when the output action writes files that the search for input files would find:
// the settings dialog's check, made with the output names of an input file named
// "x." + InputExt. The guard when a file is finished checks the real name.
bool OutputNamesInputFiles(const ClientSettings& settings);

}  // namespace ecr
