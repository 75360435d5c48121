// The record of one fax job as the fax message builder reads it: message
// class, subject, cover-page names, billing code, schedule, body, recipient
// addresses, attachment paths and what becomes of the finished message.
//
// The gateway creates a record on its stack, fills it through these members
// and hands its address to CreateFaxMsg. The record owns every text it holds,
// except a body handed over with SetBodyMem. Texts are bytes in the system
// code page ending in NUL; every stored text keeps at most 2,047 characters.
#pragma once

#include <memory>

#include "faxmsg/export.h"
#include "ovplatform/win32.h"

// A counted list of owned texts, in the order they were added. An entry is
// null when its copy could not be allocated.
struct FAXMSG_API tagSTRLIST {
    LONG Count = 0;
    std::unique_ptr<std::unique_ptr<char[]>[]> Items;
};

class FAXMSG_API tagMsgSettings {
public:
    // Bits of Flags.
    static constexpr LONG kFlagOptFlush = 0x01;
    static constexpr LONG kFlagMsgSave = 0x02;  // save; also the fallback when submission fails
    static constexpr LONG kFlagMsgEdit = 0x04;  // open the message in a form
    static constexpr LONG kFlagMsgSend = 0x08;  // submit the message
    static constexpr LONG kFlagNoerror = 0x10;
    static constexpr LONG kFlagBodyRTF = 0x20;
    static constexpr LONG kFlagBodyFile = 0x40;  // Body is the path of the body file
    // Bit of RefFlags: Body points to text the record does not own.
    static constexpr LONG kRefBodyBorrowed = 0x01;
    // Longest stored text plus its NUL.
    static constexpr ULONG kMaxTextSize = 2048;

    tagMsgSettings() noexcept;
    ~tagMsgSettings();
    // A record owns its texts; nothing in the system copies one, and a copy
    // sharing them would free them twice.
    tagMsgSettings(const tagMsgSettings&) = delete;
    tagMsgSettings& operator=(const tagMsgSettings&) = delete;

    int DoExSettings() const noexcept { return ExSettings; }
    void SetExSettings(int value) noexcept { ExSettings = value; }
    LONG GetRes() const noexcept { return Res; }
    void SetRes(LONG value) noexcept;
    LONG GetLine() const noexcept { return Line; }
    void SetLine(LONG value) noexcept { Line = value; }
    LONG GetFlags() const noexcept { return Flags; }
    void SetFlags(LONG value) noexcept { Flags = value; }

    int DoOptFlush() const noexcept { return TestFlag(kFlagOptFlush); }
    int DoMsgSave() const noexcept { return TestFlag(kFlagMsgSave); }
    int DoMsgEdit() const noexcept { return TestFlag(kFlagMsgEdit); }
    int DoMsgSend() const noexcept { return TestFlag(kFlagMsgSend); }
    int DoNoerror() const noexcept { return TestFlag(kFlagNoerror); }
    int DoBodyRTF() const noexcept { return TestFlag(kFlagBodyRTF); }
    int DoBodyTXT() const noexcept { return 1 - TestFlag(kFlagBodyRTF); }
    int DoBodyFile() const noexcept { return TestFlag(kFlagBodyFile); }
    int DoBodyRef() const noexcept { return (RefFlags & kRefBodyBorrowed) != 0 ? 1 : 0; }

    void SetOptFlush(int on) noexcept { ChangeFlag(kFlagOptFlush, on != 0); }
    void SetMsgSave(int on) noexcept { ChangeFlag(kFlagMsgSave, on != 0); }
    void SetMsgEdit(int on) noexcept { ChangeFlag(kFlagMsgEdit, on != 0); }
    void SetMsgSend(int on) noexcept { ChangeFlag(kFlagMsgSend, on != 0); }
    void SetNoerror(int on) noexcept { ChangeFlag(kFlagNoerror, on != 0); }
    void SetBodyRTF(int on) noexcept { ChangeFlag(kFlagBodyRTF, on != 0); }
    void SetBodyTXT(int on) noexcept { ChangeFlag(kFlagBodyRTF, on == 0); }
    void SetBodyFile(int on) noexcept { ChangeFlag(kFlagBodyFile, on != 0); }

    // Text setters keep at most len characters of text (and never more than
    // 2,047). They return 1 when stored, 0 for a null text, a size that wraps
    // to 0 (len 4294967295), or a failed allocation (the field is then null).
    int SetMsgClass(const char* text, ULONG len) noexcept;
    int SetSubject(const char* text, ULONG len) noexcept;
    // These four and SetSchedTime mark the job as carrying the extended fax
    // settings, whether or not the copy succeeds.
    int SetCvrName(const char* text, ULONG len) noexcept;
    int SetFCvrName(const char* text, ULONG len) noexcept;
    int SetAttName(const char* text, ULONG len) noexcept;
    int SetBillCode(const char* text, ULONG len) noexcept;
    // The schedule is held either as text or as a FILETIME, never both.
    int SetSchedTime(const char* text, ULONG len) noexcept;
    int SetSchedFT(const FILETIME* value) noexcept;
    // Stores a copy of the body, forgetting (not freeing) a borrowed one.
    int SetBody(const char* text, ULONG len) noexcept;
    // Borrows the caller's text; it must outlive the record or be replaced.
    int SetBodyMem(const char* text) noexcept;

    const char* GetMsgClass() const noexcept { return MsgClass.get(); }
    const char* GetSubject() const noexcept { return Subject.get(); }
    const char* GetCvrName() const noexcept { return CvrName.get(); }
    const char* GetFCvrName() const noexcept { return FCvrName.get(); }
    const char* GetAttName() const noexcept { return AttName.get(); }
    const char* GetBillCode() const noexcept { return BillCode.get(); }
    const char* GetSchedTime() const noexcept { return SchedTime.get(); }
    const char* GetBody() const noexcept { return Body; }
    const FILETIME* GetSchedFT() const noexcept { return SchedFT.get(); }

    void AddRecip(const char* text) noexcept { AddStringList(&Recips, text); }
    void AddAttach(const char* text) noexcept { AddStringList(&Attachs, text); }
    LONG GetRecipCnt() const noexcept { return Recips.Count; }
    LONG GetAttachCnt() const noexcept { return Attachs.Count; }
    // Entry i, or null when i is out of range.
    const char* GetRecip(LONG index) const noexcept { return ListEntry(Recips, index); }
    const char* GetAttach(LONG index) const noexcept { return ListEntry(Attachs, index); }

    // Diagnostic hook the gateway calls just before CreateFaxMsg.
    void TracedbgMsgSet() const noexcept {}

    // Called by the gateway directly on its record's fields (MsgClass,
    // Subject, Recips, Attachs), so they are reachable from outside.
    //
    // Stores a copy of at most size - 1 characters of text in *slot (at most
    // 2,047). A null slot or text, or size 0, leaves the field as it was and
    // returns 0; a failed allocation leaves the field null and returns 0.
    int SetString(std::unique_ptr<char[]>* slot, const char* text, ULONG size) noexcept;
    // Appends a copy of text to the list; a null text does nothing. When the
    // longer entry array cannot be allocated the list stays as it was.
    void AddStringList(tagSTRLIST* list, const char* text) noexcept;

    // The record's fields, in their published order.
    int ExSettings = 0;
    LONG Res = -1;
    LONG Line = -1;
    LONG Flags = kFlagMsgSend;
    LONG RefFlags = 0;
    std::unique_ptr<char[]> MsgClass;
    std::unique_ptr<char[]> Subject;
    std::unique_ptr<char[]> CvrName;
    std::unique_ptr<char[]> FCvrName;
    std::unique_ptr<char[]> AttName;
    std::unique_ptr<char[]> BillCode;
    std::unique_ptr<char[]> SchedTime;
    const char* Body = nullptr;  // ownedBody_'s text, or the borrowed text
    std::unique_ptr<FILETIME> SchedFT;
    tagSTRLIST Recips;
    tagSTRLIST Attachs;

private:
    void ResetMsgSettings() noexcept;
    static void ReleaseStringList(tagSTRLIST* list) noexcept;
    void SetBodyRef(int borrowed) noexcept;
    int SetExtendedString(std::unique_ptr<char[]>* slot, const char* text, ULONG len) noexcept;

    int TestFlag(LONG bit) const noexcept { return (Flags & bit) != 0 ? 1 : 0; }
    void ChangeFlag(LONG bit, bool on) noexcept { Flags = on ? (Flags | bit) : (Flags & ~bit); }
    static const char* ListEntry(const tagSTRLIST& list, LONG index) noexcept;

    // Holds the body when the record owns it; Body then points into it.
    std::unique_ptr<char[]> ownedBody_;
};
