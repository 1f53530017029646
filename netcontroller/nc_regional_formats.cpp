#include "netcontroller/nc_regional_formats.h"

#include "foundation/regional_formats.h"

namespace ecr::nc {

void SetRegionalFormats() { ecr::SetRegionalFormats(); }

}  // namespace ecr::nc
