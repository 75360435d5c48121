// Symbols the faxmsg library exports; everything else stays inside it.
#pragma once

#if defined(FAXMSG_BUILDING_LIBRARY)
#define FAXMSG_API __attribute__((visibility("default")))
#else
#define FAXMSG_API
#endif
