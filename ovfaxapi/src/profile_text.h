// Settings texts as the automation server reads them: at most `room` - 1
// characters, white space removed at both ends.
#pragma once

#include <string>

namespace ovfaxapi {

std::string TrimWhiteSpace(std::string text);
std::string ReadProfileText(const char* section, const char* key, const char* file,
                            unsigned room);

}  // namespace ovfaxapi
