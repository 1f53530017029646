#pragma once

// The network-controller server fixes the same regional formats as the other programs: "."
// as decimal and date separator, "dd.mm.yyyy", "hh:mm:ss", the fixed short day names.
//
// Call on the main thread at start, after the application object exists and before any
// other thread.

namespace ecr::nc {

void SetRegionalFormats();

}  // namespace ecr::nc
