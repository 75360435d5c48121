// faxmon: the print monitor behind the fax printer's port "KESTRINFAX:".
// The spooler loads the library and asks it for its function table; every
// document printed to the port lands in a new spool file (NNNNNNNN.OVK in the
// temporary directory), is removed from the printer's queue when it ends, and
// is handed over through "ovprog.ini" [General] "CommandLine" and the values
// of HKEY_LOCAL_MACHINE "SOFTWARE\Kestrin\Kestrin Print Monitor".
#pragma once

#include "ovspooler/winspool.h"

#define FAXMON_API __attribute__((visibility("default")))

extern "C" {

// Creates the port object and resets the handover values; null when the port
// object cannot be made.
FAXMON_API MONITOREX* InitializePrintMonitor(LPWSTR pRegistryRoot);
// Copies the function table into the caller's; FALSE when there is none.
FAXMON_API BOOL InitializeMonitorEx(LPWSTR pRegistryRoot, MONITOR* pMonitor);

}  // extern "C"

namespace faxmon {

constexpr const char16_t* kPortName = u"KESTRINFAX:";
constexpr const char16_t* kMonitorName = u"Kestrin-Fax";
constexpr const char16_t* kPortDescription = u"Kestrin-Fax Port";
constexpr const char16_t* kHandoverKey = u"SOFTWARE\\Kestrin\\Kestrin Print Monitor";
constexpr const char16_t* kOutFileValue = u"out.file.";
constexpr const char16_t* kConversionValue = u"conv.op.";
constexpr const char16_t* kDocConversionValue = u"do.doc.conv.";
constexpr const char16_t* kPrintMessage = u"OrvanePrinterDriverStart";

}  // namespace faxmon
