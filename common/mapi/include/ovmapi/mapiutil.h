// Helper functions over the interfaces: row sets and address lists, single
// properties, whole tables, property copies, file and memory streams, and the
// hexadecimal text of entry identifiers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ovmapi/mapix.h"

extern "C" {
// Frees each row's values, then the row set. Null is allowed.
void FreeProws(LPSRowSet lpRows);
// Frees each entry's values, then the list. Null is allowed.
void FreePadrlist(LPADRLIST lpAdrlist);
// Releases an interface pointer; null is allowed. Returns the new count.
ULONG UlRelease(LPVOID lpUnknown);
// Copies cValues values into one new block from lpAllocateBuffer.
SCODE ScDupPropset(int cValues, LPSPropValue lpPropArray, LPALLOCATEBUFFER lpAllocateBuffer,
                   LPSPropValue* lppPropArray);
SCODE ScCountProps(int cValues, LPSPropValue lpPropArray, ULONG* lpcb);
// Sets the columns, restriction and sort order and reads every row from the
// beginning (at most crowsMax when that is not 0).
HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags, LPSRestriction lpRestriction,
                       LPSSortOrderSet lpSortOrderSet, LONG crowsMax, LPSRowSet* lppRows);
// One property; MAPI_E_NOT_FOUND when the object does not have it.
HRESULT HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp);
HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp);
// The value of ulPropTag in an array, or null.
LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag);

// A stream over a file: STGM_READ opens an existing file; STGM_CREATE with
// STGM_WRITE or STGM_READWRITE creates or truncates one. The path may be a
// Windows path ("C:\..."). STGM_SHARE_EXCLUSIVE and STGM_SHARE_DENY_WRITE
// fail with STG_E_ACCESSDENIED while another stream writes the file.
HRESULT OpenStreamOnFile(LPALLOCATEBUFFER lpAllocateBuffer, LPFREEBUFFER lpFreeBuffer, ULONG ulFlags,
                         LPCSTR lpszFileName, LPCSTR lpszPrefix, LPSTREAM* lppStream);
// A stream in memory; hGlobal must be null (a new, empty block).
HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, LPSTREAM* ppstm);
}

namespace ovmapi {
// "0A1B..." from bytes: two upper-case hexadecimal digits per byte.
std::string HexFromBin(const BYTE* bytes, std::size_t size);
// Bytes from hexadecimal text, two digits per byte, high digit first; either
// letter case; an odd final digit is ignored. Nothing when a character is
// not a hexadecimal digit.
bool BinFromHex(std::string_view text, std::vector<BYTE>& bytes);
}  // namespace ovmapi
