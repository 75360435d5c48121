// The send pipeline's pieces that tests look at on their own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "automation.h"

namespace ovfaxapi {

// The client error text shown for a gateway send result.
const char* ClientErrorText(int code);
// The body file as lines (line ends removed, long lines in pieces of 1,023
// characters); nothing when the file cannot be opened.
std::optional<std::vector<std::string>> ReadBodyLines(const std::string& path);
// Short date, a blank, the time; nothing for an impossible date or time.
std::optional<std::string> FormatSchedule(int year, int month, int day, int hour, int minutes);
// The message text of the plain record.
std::string BuildPlainMessageText(const COvfaxapiDlgAutoProxy& fax);
// "OVCLIENT.INI" [Options] "ClientGateway", else the first "*.sov" file in
// the program's directory; empty when there is none.
std::string FindGatewayPath();

}  // namespace ovfaxapi
