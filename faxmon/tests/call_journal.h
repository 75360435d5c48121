// A journal of the handover calls the monitor makes (registry values,
// profile strings, broadcasts), in the order it makes them. The test binary
// defines the platform calls itself, records each and passes it on.
#pragma once

#include <string>
#include <vector>

namespace faxmontest {

std::vector<std::string> Journal();
void ClearJournal();

}  // namespace faxmontest
