#include "faxmsg/msgsettings.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <new>

namespace {

std::unique_ptr<char[]> AllocateText(ULONG size) noexcept {
    return std::unique_ptr<char[]>(new (std::nothrow) char[size]);
}

// Whether p points into the NUL-terminated text that starts at owned.
bool PointsInto(const char* p, const char* owned) noexcept {
    if (p == nullptr || owned == nullptr) {
        return false;
    }
    const char* end = owned + std::strlen(owned) + 1;
    return !std::less<const char*>()(p, owned) && std::less<const char*>()(p, end);
}

}  // namespace

tagMsgSettings::tagMsgSettings() noexcept { ResetMsgSettings(); }

tagMsgSettings::~tagMsgSettings() {
    // Releases every owned text and both lists; a borrowed body is left to
    // its owner.
    ResetMsgSettings();
}

void tagMsgSettings::ResetMsgSettings() noexcept {
    ExSettings = 0;
    Res = -1;
    Line = -1;
    RefFlags = 0;
    MsgClass.reset();
    Subject.reset();
    CvrName.reset();
    FCvrName.reset();
    AttName.reset();
    BillCode.reset();
    SchedTime.reset();
    Body = nullptr;
    ownedBody_.reset();
    SchedFT.reset();
    Flags = kFlagMsgSend;
    ReleaseStringList(&Recips);
    ReleaseStringList(&Attachs);
}

void tagMsgSettings::SetRes(LONG value) noexcept {
    Res = value;
    ExSettings = 1;
}

int tagMsgSettings::SetString(std::unique_ptr<char[]>* slot, const char* text,
                              ULONG size) noexcept {
    if (slot == nullptr || text == nullptr || size == 0) {
        return 0;
    }
    size = std::min(size, kMaxTextSize);
    // Never looks further into the text than it may copy.
    size = std::min(size, static_cast<ULONG>(::strnlen(text, size - 1) + 1));
    // The copy is made before the old text is released, so a text may be set
    // from (part of) its own field.
    std::unique_ptr<char[]> copy = AllocateText(size);
    if (!copy) {
        slot->reset();
        return 0;
    }
    std::memcpy(copy.get(), text, size - 1);
    copy[size - 1] = '\0';
    *slot = std::move(copy);
    return 1;
}

void tagMsgSettings::AddStringList(tagSTRLIST* list, const char* text) noexcept {
    if (list == nullptr || text == nullptr) {
        return;
    }
    const LONG count = std::max<LONG>(list->Count, 0);
    if (count == std::numeric_limits<LONG>::max()) {
        return;
    }
    auto items = std::unique_ptr<std::unique_ptr<char[]>[]>(new (std::nothrow)
                                                                std::unique_ptr<char[]>[count + 1]);
    if (!items) {
        return;
    }
    for (LONG i = 0; i < count && list->Items; ++i) {
        items[i] = std::move(list->Items[i]);
    }
    list->Items = std::move(items);
    list->Count = count + 1;
    const ULONG length = static_cast<ULONG>(::strnlen(text, kMaxTextSize));
    SetString(&list->Items[count], text, length + 1);
}

void tagMsgSettings::ReleaseStringList(tagSTRLIST* list) noexcept {
    list->Items.reset();
    list->Count = 0;
}

const char* tagMsgSettings::ListEntry(const tagSTRLIST& list, LONG index) noexcept {
    if (!list.Items || index < 0 || index >= list.Count) {
        return nullptr;
    }
    return list.Items[index].get();
}

void tagMsgSettings::SetBodyRef(int borrowed) noexcept {
    RefFlags = borrowed != 0 ? (RefFlags | kRefBodyBorrowed) : (RefFlags & ~kRefBodyBorrowed);
}

int tagMsgSettings::SetExtendedString(std::unique_ptr<char[]>* slot, const char* text,
                                      ULONG len) noexcept {
    ExSettings = 1;
    return SetString(slot, text, len + 1);
}

int tagMsgSettings::SetMsgClass(const char* text, ULONG len) noexcept {
    return SetString(&MsgClass, text, len + 1);
}

int tagMsgSettings::SetSubject(const char* text, ULONG len) noexcept {
    return SetString(&Subject, text, len + 1);
}

int tagMsgSettings::SetCvrName(const char* text, ULONG len) noexcept {
    return SetExtendedString(&CvrName, text, len);
}

int tagMsgSettings::SetFCvrName(const char* text, ULONG len) noexcept {
    return SetExtendedString(&FCvrName, text, len);
}

int tagMsgSettings::SetAttName(const char* text, ULONG len) noexcept {
    return SetExtendedString(&AttName, text, len);
}

int tagMsgSettings::SetBillCode(const char* text, ULONG len) noexcept {
    return SetExtendedString(&BillCode, text, len);
}

int tagMsgSettings::SetSchedTime(const char* text, ULONG len) noexcept {
    SchedFT.reset();
    return SetExtendedString(&SchedTime, text, len);
}

int tagMsgSettings::SetSchedFT(const FILETIME* value) noexcept {
    if (value == nullptr) {
        return 0;
    }
    SchedTime.reset();
    if (!SchedFT) {
        SchedFT.reset(new (std::nothrow) FILETIME{});
        if (!SchedFT) {
            return 0;
        }
    }
    SchedFT->dwLowDateTime = value->dwLowDateTime;
    SchedFT->dwHighDateTime = value->dwHighDateTime;
    ExSettings = 1;
    return 1;
}

int tagMsgSettings::SetBody(const char* text, ULONG len) noexcept {
    if (DoBodyRef() != 0) {
        Body = nullptr;  // the caller's text; not ours to free
        SetBodyRef(0);
    }
    const int stored = SetString(&ownedBody_, text, len + 1);
    Body = ownedBody_.get();
    return stored;
}

int tagMsgSettings::SetBodyMem(const char* text) noexcept {
    if (DoBodyRef() == 0 && PointsInto(text, ownedBody_.get())) {
        // Borrowing the record's own copy would leave it pointing at freed
        // memory; the record keeps owning it instead.
        Body = text;
        return 1;
    }
    ownedBody_.reset();
    Body = text;
    SetBodyRef(1);
    return 1;
}
