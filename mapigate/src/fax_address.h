// The fax address syntax the fax server reads: "G S"@"C"@F.
#pragma once

#include <optional>
#include <string>

#include "mapigate/cgw.h"
#include "ovplatform/win32.h"

namespace mapigate {

// Nothing when the recipient has no fax number (after trimming).
std::optional<std::string> BuildFaxAddress(const cgwRecipient& recipient);
// The schedule text of a job ("yyyy-MM-dd HH:mm[:ss]", the system's short
// date and time) as a FILETIME of two-second resolution, years 1980 to 2107,
// without time-zone conversion; nothing when it does not parse.
std::optional<FILETIME> ParseScheduleText(const char* text);

}  // namespace mapigate
