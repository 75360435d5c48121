// The stored form of the gateway logon password in "OVCLIENT.INI".
#pragma once

#include <string>
#include <string_view>

namespace ovfaxapi {

// Two characters per byte: the high four bits as a character at one offset,
// the low four bits at another; the byte is first combined by exclusive-or
// with a key byte that starts at a fixed seed, grows by one per byte and falls
// back to a fixed low value when it reaches a fixed limit.
std::string ScramblePassword(std::string_view plain);
// The reverse; an odd final character is ignored.
std::string UnscramblePassword(std::string_view stored);

}  // namespace ovfaxapi
