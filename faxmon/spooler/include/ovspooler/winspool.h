// The print spooler's side of the system, Win32-shaped: the printer calls a
// port monitor makes (OpenPrinterW, SetJobW, ClosePrinter) and the published
// layout of the monitor interface (the function table a monitor hands the
// spooler and the port records of EnumPorts). Our own spooler (spooler.h)
// stands behind these calls; printers and their queued jobs live in the
// prefix.
#pragma once

#include "ovplatform/win32.h"

extern "C" {

using LPWSTR = WCHAR*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using PHANDLE = HANDLE*;

constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_LEVEL = 124;
constexpr DWORD ERROR_INVALID_PRINTER_NAME = 1801;

// SetJob commands.
constexpr DWORD JOB_CONTROL_PAUSE = 1;
constexpr DWORD JOB_CONTROL_RESUME = 2;
constexpr DWORD JOB_CONTROL_CANCEL = 3;
constexpr DWORD JOB_CONTROL_RESTART = 4;
constexpr DWORD JOB_CONTROL_DELETE = 5;

constexpr DWORD PORT_TYPE_WRITE = 0x0001;
constexpr DWORD PORT_TYPE_READ = 0x0002;

struct PRINTER_DEFAULTSW {
    LPWSTR pDatatype;
    void* pDevMode;
    DWORD DesiredAccess;
};

struct DOC_INFO_1W {
    LPWSTR pDocName;
    LPWSTR pOutputFile;
    LPWSTR pDatatype;
};

struct PORT_INFO_1W {
    LPWSTR pName;
};

struct PORT_INFO_2W {
    LPWSTR pPortName;
    LPWSTR pMonitorName;
    LPWSTR pDescription;
    DWORD fPortType;
    DWORD Reserved;
};

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};

// The monitor's function table, fourteen entries in the published order.
struct MONITOR {
    BOOL (*pfnEnumPorts)(LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                         LPDWORD pcReturned);
    BOOL (*pfnOpenPort)(LPWSTR pName, PHANDLE pHandle);
    BOOL (*pfnOpenPortEx)(LPWSTR pPortName, LPWSTR pPrinterName, PHANDLE pHandle, MONITOR* pMonitor);
    BOOL (*pfnStartDocPort)(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level,
                            LPBYTE pDocInfo);
    BOOL (*pfnWritePort)(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
    BOOL (*pfnReadPort)(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
    BOOL (*pfnEndDocPort)(HANDLE hPort);
    BOOL (*pfnClosePort)(HANDLE hPort);
    BOOL (*pfnAddPort)(LPWSTR pName, HWND hWnd, LPWSTR pMonitorName);
    BOOL (*pfnAddPortEx)(LPWSTR pName, DWORD Level, LPBYTE lpBuffer, LPWSTR lpMonitorName);
    BOOL (*pfnConfigurePort)(LPWSTR pName, HWND hWnd, LPWSTR pPortName);
    BOOL (*pfnDeletePort)(LPWSTR pName, HWND hWnd, LPWSTR pPortName);
    BOOL (*pfnGetPrinterDataFromPort)(HANDLE hPort, DWORD ControlID, LPWSTR pValueName,
                                      LPWSTR lpInBuffer, DWORD cbInBuffer, LPWSTR lpOutBuffer,
                                      DWORD cbOutBuffer, LPDWORD lpcbReturned);
    BOOL (*pfnSetPortTimeOuts)(HANDLE hPort, COMMTIMEOUTS* lpCTO, DWORD reserved);
};

// What InitializePrintMonitor returns: the size of the table, then the table.
struct MONITOREX {
    DWORD dwMonitorSize;
    MONITOR Monitor;
};

// The monitor's entry points, as the spooler looks them up by name.
using InitializePrintMonitorProc = MONITOREX* (*)(LPWSTR pRegistryRoot);
using InitializeMonitorExProc = BOOL (*)(LPWSTR pRegistryRoot, MONITOR* pMonitor);

// Opens a printer of the spooler by name (letter case does not matter).
// Unknown name: FALSE with ERROR_INVALID_PRINTER_NAME.
BOOL OpenPrinterW(const WCHAR* pPrinterName, HANDLE* phPrinter, PRINTER_DEFAULTSW* pDefault);
// Level 0 without data: JOB_CONTROL_CANCEL and JOB_CONTROL_DELETE remove the
// job from the printer's queue (and its queued data). A job the printer does
// not hold: FALSE with ERROR_INVALID_PARAMETER; another command or level:
// FALSE with ERROR_NOT_SUPPORTED or ERROR_INVALID_LEVEL.
BOOL SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command);
// A handle this spooler did not hand out: FALSE with ERROR_INVALID_HANDLE.
BOOL ClosePrinter(HANDLE hPrinter);

}  // extern "C"
