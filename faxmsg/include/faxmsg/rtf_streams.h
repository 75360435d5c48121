// The message body as compressed RTF through the mail system's streams:
// synchronising the RTF with the plain body, writing and reading compressed
// RTF (MS-OXRTFCP) on PR_RTF_COMPRESSED, turning a text stream into RTF,
// storing a text file as the message's RTF body, and a buffered stream over
// a message property.
#pragma once

#include <cstdint>
#include <string>

#include "faxmsg/export.h"
#include "faxmsg/rtf_codec.h"
#include "ovmapi/mapidefs.h"

#ifndef RTF_SYNC_RTF_CHANGED
#define RTF_SYNC_RTF_CHANGED 0x00000001UL
#endif
#ifndef RTF_SYNC_BODY_CHANGED
#define RTF_SYNC_BODY_CHANGED 0x00000002UL
#endif

namespace faxmsg {

// Brings PR_RTF_COMPRESSED in step with a changed plain body. Only
// RTF_SYNC_BODY_CHANGED is supported (MAPI_E_NO_SUPPORT otherwise): the RTF
// that no longer matches PR_BODY is removed together with the
// PR_RTF_SYNC_* properties and PR_RTF_IN_SYNC becomes FALSE, so readers take
// the plain body. *updated tells whether the message was changed.
FAXMSG_API HRESULT RTFSync(LPMESSAGE message, ULONG flags, BOOL* updated) noexcept;

// A stream over a stream on PR_RTF_COMPRESSED.
// With MAPI_MODIFY: raw RTF written to it is coded as compressed RTF
// ("LZFu") into the underlying stream behind a 16-byte header; Commit
// completes the data, fills in the header and commits the underlying stream.
// STORE_UNCOMPRESSED_RTF stores it uncompressed ("MELA") instead.
// Without MAPI_MODIFY: reads the underlying stream (compressed or "MELA",
// at most maxRawSize bytes of RTF) and delivers the raw RTF.
// E_INVALIDARG for a missing stream or out pointer.
FAXMSG_API HRESULT WrapCompressedRTFStream(LPSTREAM compressed, ULONG flags,
                                           LPSTREAM* result) noexcept;

// A readable stream delivering the RTF of the plain text read from source
// (codePage 0: the system's ANSI code page). Attachment positions are not
// placed in the RTF. E_INVALIDARG for a missing stream or out pointer.
FAXMSG_API HRESULT HrTextToRtfStream(LPSTREAM source, ULONG codePage, ULONG positionCount,
                                     const ULONG* positions, LPSTREAM* result) noexcept;

// Stores the contents of a text file as the message's compressed RTF body.
FAXMSG_API HRESULT HrBodyFromTextFile(LPMESSAGE message, const char* path) noexcept;

// A stream over a property of object, opened on first use with
// OpenProperty (IID_IStream; MAPI_MODIFY and MAPI_CREATE ask for
// STGM_WRITE | STGM_SHARE_EXCLUSIVE and STGM_CREATE; MAPI_DEFERRED_ERRORS is
// always added). Writes are buffered; Commit hands over what is left and
// commits the property stream.
FAXMSG_API HRESULT HrOpenPropertyStream(LPMAPIPROP object, ULONG tag, ULONG flags,
                                        LPSTREAM* result) noexcept;

// The RTF of a stored body: reads PR_RTF_COMPRESSED of object (compressed
// or "MELA") into rtf. MAPI_E_NOT_FOUND when there is none,
// MAPI_E_CORRUPT_DATA when it cannot be read, MAPI_E_TOO_BIG when the RTF
// would exceed maxRawSize bytes.
FAXMSG_API HRESULT HrReadRtfBody(LPMAPIPROP object, std::string& rtf,
                                 std::uint32_t maxRawSize = kDefaultMaxRtfSize) noexcept;

}  // namespace faxmsg
