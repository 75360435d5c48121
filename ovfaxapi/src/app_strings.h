// The program's string resources.
#pragma once

#include <string>

#include "ovplatform/win32.h"

namespace ovfaxapi {

std::string LoadString(UINT id);  // in the system code page

}  // namespace ovfaxapi
