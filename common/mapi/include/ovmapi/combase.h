// The few COM basics the mail-system interfaces are built on: GUIDs, IUnknown,
// IStream and the OLE result codes. Each block carries the guard macro the
// Windows headers use, so a component that also includes the component-object
// layer sees every definition once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ovplatform/win32.h"

#ifndef OV_COM_BASIC_TYPES_DEFINED
#define OV_COM_BASIC_TYPES_DEFINED
using SCODE = LONG;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using ULONG_PTR = std::uintptr_t;
using LPVOID = void*;
using LPBYTE = BYTE*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPOLESTR = WCHAR*;
using HGLOBAL = void*;
#endif

#ifndef GUID_DEFINED
#define GUID_DEFINED
struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
#endif
#ifndef OV_IID_DEFINED
#define OV_IID_DEFINED
using IID = GUID;
using CLSID = GUID;
using LPGUID = GUID*;
using LPIID = IID*;
using LPCLSID = CLSID*;
using LPCIID = const IID*;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
#endif

#ifndef OV_LARGE_INTEGER_DEFINED
#define OV_LARGE_INTEGER_DEFINED
union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
};
#endif

#ifndef OV_RECT_DEFINED
#define OV_RECT_DEFINED
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using LPRECT = RECT*;
using LPCRECT = const RECT*;
#endif

// Result codes of the OLE runtime (32-bit Windows values).
#ifndef SUCCEEDED
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#endif
#ifndef FAILED
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#endif
#ifndef HR_SUCCEEDED
#define HR_SUCCEEDED(hr) SUCCEEDED(hr)
#endif
#ifndef HR_FAILED
#define HR_FAILED(hr) FAILED(hr)
#endif
// Constants rather than macros: the component-object layer declares the same
// names in its own namespace.
inline constexpr HRESULT S_OK = static_cast<HRESULT>(0x00000000U);
inline constexpr HRESULT S_FALSE = static_cast<HRESULT>(0x00000001U);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFU);
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001U);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002U);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003U);
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004U);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005U);
inline constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005U);
inline constexpr HRESULT E_HANDLE = static_cast<HRESULT>(0x80070006U);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000EU);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057U);
#ifndef STG_E_INVALIDFUNCTION
#define STG_E_INVALIDFUNCTION (static_cast<HRESULT>(0x80030001L))
#endif
#ifndef STG_E_FILENOTFOUND
#define STG_E_FILENOTFOUND (static_cast<HRESULT>(0x80030002L))
#endif
#ifndef STG_E_ACCESSDENIED
#define STG_E_ACCESSDENIED (static_cast<HRESULT>(0x80030005L))
#endif
#ifndef STG_E_INSUFFICIENTMEMORY
#define STG_E_INSUFFICIENTMEMORY (static_cast<HRESULT>(0x80030008L))
#endif
#ifndef STG_E_INVALIDPOINTER
#define STG_E_INVALIDPOINTER (static_cast<HRESULT>(0x80030009L))
#endif
#ifndef STG_E_INVALIDPARAMETER
#define STG_E_INVALIDPARAMETER (static_cast<HRESULT>(0x80030057L))
#endif
#ifndef STG_E_MEDIUMFULL
#define STG_E_MEDIUMFULL (static_cast<HRESULT>(0x80030070L))
#endif

#ifndef OV_IID_IUNKNOWN_DEFINED
#define OV_IID_IUNKNOWN_DEFINED
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IStream = {0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
#endif

#ifndef __IUnknown_INTERFACE_DEFINED__
#define __IUnknown_INTERFACE_DEFINED__
// Objects are reference counted: AddRef and Release count, the last Release
// destroys. No destructor is reachable through an interface pointer.
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};
#endif
using LPUNKNOWN = IUnknown*;

#ifndef __IStream_INTERFACE_DEFINED__
#define __IStream_INTERFACE_DEFINED__
constexpr DWORD STGM_DIRECT = 0x00000000;
constexpr DWORD STGM_TRANSACTED = 0x00010000;
constexpr DWORD STGM_SIMPLE = 0x08000000;
constexpr DWORD STGM_READ = 0x00000000;
constexpr DWORD STGM_WRITE = 0x00000001;
constexpr DWORD STGM_READWRITE = 0x00000002;
constexpr DWORD STGM_SHARE_DENY_NONE = 0x00000040;
constexpr DWORD STGM_SHARE_DENY_READ = 0x00000030;
constexpr DWORD STGM_SHARE_DENY_WRITE = 0x00000020;
constexpr DWORD STGM_SHARE_EXCLUSIVE = 0x00000010;
constexpr DWORD STGM_PRIORITY = 0x00040000;
constexpr DWORD STGM_DELETEONRELEASE = 0x04000000;
constexpr DWORD STGM_NOSCRATCH = 0x00100000;
constexpr DWORD STGM_CREATE = 0x00001000;
constexpr DWORD STGM_CONVERT = 0x00020000;
constexpr DWORD STGM_FAILIFTHERE = 0x00000000;
constexpr DWORD STGM_NOSNAPSHOT = 0x00200000;
constexpr DWORD STGM_DIRECT_SWMR = 0x00400000;
constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;
constexpr DWORD STGC_DEFAULT = 0;
constexpr DWORD STATFLAG_DEFAULT = 0;
constexpr DWORD STATFLAG_NONAME = 1;
constexpr DWORD STGTY_STREAM = 2;

struct STATSTG {
    LPOLESTR pwcsName;  // allocated with MAPIAllocateBuffer when asked for; else null
    DWORD type;
    ULARGE_INTEGER cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};

struct IStream : public IUnknown {
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
    virtual HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER libNewSize) = 0;
    virtual HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                           ULARGE_INTEGER* pcbWritten) = 0;
    virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    virtual HRESULT UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
    virtual HRESULT Clone(IStream** ppstm) = 0;

protected:
    ~IStream() = default;
};
#endif
using LPSTREAM = IStream*;
