// Compressed RTF through the mail system's streams (MS-OXRTFCP for the
// coded form, MAPI's PR_RTF_SYNC_* properties for synchronisation), on top
// of the byte-level codec and text converter.
#include "faxmsg/rtf_streams.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "mapi_holders.h"
#include "ovmapi/mapix.h"

namespace faxmsg {
namespace {

using detail::Com;
using detail::MapiBuffer;

constexpr ULONG kChunk = 16 * 1024;
constexpr ULONGLONG kWholeStream = ~0ULL;

// Runs an operation that may throw (allocation) and turns the exception into
// a result code: nothing escapes a stream method.
template <class F>
HRESULT Guard(F&& operation) noexcept {
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// A block of scratch memory from MAPIAllocateBuffer.
HRESULT AllocateChunk(MapiBuffer<BYTE>& chunk) noexcept {
    void* block = nullptr;
    SCODE sc = MAPIAllocateBuffer(kChunk, &block);
    if (FAILED(sc)) return sc;
    chunk.reset(static_cast<BYTE*>(block));
    return S_OK;
}

HRESULT WriteAll(IStream* to, const void* data, std::size_t size) noexcept {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    while (size > 0) {
        ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
        ULONG written = 0;
        HRESULT hr = to->Write(bytes, piece, &written);
        if (FAILED(hr)) return hr;
        if (written == 0) return STG_E_MEDIUMFULL;
        bytes += written;
        size -= written;
    }
    return S_OK;
}

HRESULT SeekTo(IStream* stream, ULONGLONG position) noexcept {
    LARGE_INTEGER move;
    move.QuadPart = static_cast<LONGLONG>(position);
    return stream->Seek(move, STREAM_SEEK_SET, nullptr);
}

HRESULT AsStream(IUnknown* unknown, Com<IStream>& stream) noexcept {
    if (unknown == nullptr) return E_NOINTERFACE;
    return unknown->QueryInterface(IID_IStream, reinterpret_cast<void**>(stream.out()));
}

// The common part of the streams made here: reference counting, the
// interface query and a CopyTo made of Read and the target's Write.
class StreamImpl : public IStream {
public:
    virtual ~StreamImpl() = default;

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IStream) {
            AddRef();
            *object = static_cast<IStream*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT Read(void*, ULONG, ULONG* read) override {
        if (read != nullptr) *read = 0;
        return STG_E_ACCESSDENIED;
    }
    HRESULT Write(const void*, ULONG, ULONG* written) override {
        if (written != nullptr) *written = 0;
        return STG_E_ACCESSDENIED;
    }
    HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return STG_E_INVALIDFUNCTION; }
    HRESULT SetSize(ULARGE_INTEGER) override { return STG_E_INVALIDFUNCTION; }
    HRESULT CopyTo(IStream* to, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                   ULARGE_INTEGER* pcbWritten) override {
        if (pcbRead != nullptr) pcbRead->QuadPart = 0;
        if (pcbWritten != nullptr) pcbWritten->QuadPart = 0;
        if (to == nullptr) return STG_E_INVALIDPOINTER;
        MapiBuffer<BYTE> chunk;
        if (HRESULT hr = AllocateChunk(chunk); FAILED(hr)) return hr;
        ULONGLONG left = cb.QuadPart;
        ULONGLONG totalRead = 0;
        ULONGLONG totalWritten = 0;
        HRESULT result = S_OK;
        while (left > 0) {
            ULONG want = static_cast<ULONG>(std::min<ULONGLONG>(left, kChunk));
            ULONG got = 0;
            result = Read(chunk.get(), want, &got);
            if (FAILED(result) || got == 0) break;
            totalRead += got;
            left -= got;
            ULONG written = 0;
            result = to->Write(chunk.get(), got, &written);
            totalWritten += written;
            if (FAILED(result)) break;
            if (written != got) {
                result = STG_E_MEDIUMFULL;
                break;
            }
        }
        if (pcbRead != nullptr) pcbRead->QuadPart = totalRead;
        if (pcbWritten != nullptr) pcbWritten->QuadPart = totalWritten;
        return FAILED(result) ? result : S_OK;
    }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = KnownSize();
        return S_OK;
    }
    HRESULT Clone(IStream** stream) override {
        if (stream != nullptr) *stream = nullptr;
        return STG_E_INVALIDFUNCTION;
    }

protected:
    virtual ULONGLONG KnownSize() const { return 0; }

private:
    std::atomic<ULONG> refs_{1};
};

// ------------------------------------------------- compressed RTF, writing
class CompressedRtfWriter final : public StreamImpl {
public:
    CompressedRtfWriter(IStream* underlying, bool uncompressed)
        : underlying_(underlying), uncompressed_(uncompressed) {
        underlying_->AddRef();
    }

    HRESULT Write(const void* pv, ULONG cb, ULONG* written) override {
        if (written != nullptr) *written = 0;
        if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
        if (failed_ != S_OK) return failed_;
        if (committed_) return E_UNEXPECTED;
        HRESULT hr = Guard([&]() -> HRESULT {
            if (HRESULT start = Start(); FAILED(start)) return start;
            std::span<const std::uint8_t> raw(static_cast<const std::uint8_t*>(pv), cb);
            if (uncompressed_) {
                if (rawSize_ + cb > 0xFFFFFFFFULL - 12) return STG_E_MEDIUMFULL;
                rawSize_ += cb;
                return WriteAll(underlying_.get(), pv, cb);
            }
            if (!compressor_.Write(raw))
                return compressor_.rawSize() > 0xFFFFFFF0ULL ? STG_E_MEDIUMFULL : E_OUTOFMEMORY;
            if (!compressor_.TakeContent(pending_)) return E_OUTOFMEMORY;
            if (pending_.size() >= kChunk) return Flush();
            return S_OK;
        });
        if (FAILED(hr)) {
            failed_ = hr;
            return hr;
        }
        if (written != nullptr) *written = cb;
        return S_OK;
    }

    // Completes the coded data and the header, then commits the property.
    HRESULT Commit(DWORD flags) override {
        if (failed_ != S_OK) return failed_;
        if (committed_) return underlying_->Commit(flags);
        HRESULT hr = Guard([&]() -> HRESULT {
            if (HRESULT start = Start(); FAILED(start)) return start;
            CompressedRtfHeader header;
            if (uncompressed_) {
                header.compressionType = kCompressedRtfMela;
                header.rawSize = static_cast<std::uint32_t>(rawSize_);
                header.compressedSize = static_cast<std::uint32_t>(rawSize_ + 12);
                header.crc = 0;
            } else {
                if (!compressor_.Finish(header) || !compressor_.TakeContent(pending_))
                    return E_OUTOFMEMORY;
                if (HRESULT flushed = Flush(); FAILED(flushed)) return flushed;
            }
            ULONGLONG end = start_ + kCompressedRtfHeaderSize + header.compressedSize - 12;
            auto bytes = header.Encode();
            if (HRESULT seek = SeekTo(underlying_.get(), start_); FAILED(seek)) return seek;
            if (HRESULT put = WriteAll(underlying_.get(), bytes.data(), bytes.size()); FAILED(put))
                return put;
            if (HRESULT seek = SeekTo(underlying_.get(), end); FAILED(seek)) return seek;
            // Drop whatever an earlier, longer value left behind.
            ULARGE_INTEGER size;
            size.QuadPart = end;
            HRESULT sized = underlying_->SetSize(size);
            if (FAILED(sized) && sized != STG_E_INVALIDFUNCTION && sized != E_NOTIMPL) return sized;
            return underlying_->Commit(flags);
        });
        if (FAILED(hr)) {
            failed_ = hr;
            return hr;
        }
        committed_ = true;
        return hr;
    }

private:
    // Reserves the header in front of the coded data on first use.
    HRESULT Start() {
        if (started_) return S_OK;
        ULARGE_INTEGER position{};
        LARGE_INTEGER none{};
        if (HRESULT hr = underlying_->Seek(none, STREAM_SEEK_CUR, &position); FAILED(hr)) return hr;
        start_ = position.QuadPart;
        const BYTE zeros[kCompressedRtfHeaderSize] = {};
        if (HRESULT hr = WriteAll(underlying_.get(), zeros, sizeof zeros); FAILED(hr)) return hr;
        started_ = true;
        return S_OK;
    }
    HRESULT Flush() {
        if (pending_.empty()) return S_OK;
        HRESULT hr = WriteAll(underlying_.get(), pending_.data(), pending_.size());
        pending_.clear();
        return hr;
    }

    Com<IStream> underlying_;
    bool uncompressed_;
    RtfCompressor compressor_;
    std::vector<std::uint8_t> pending_;
    ULONGLONG start_ = 0;
    ULONGLONG rawSize_ = 0;
    bool started_ = false;
    bool committed_ = false;
    HRESULT failed_ = S_OK;
};

// ------------------------------------------------- compressed RTF, reading
// Reads at most limit bytes of a stream; MAPI_E_TOO_BIG when there are more.
HRESULT ReadBounded(IStream* stream, std::uint64_t limit, std::vector<std::uint8_t>& out) {
    out.clear();
    MapiBuffer<BYTE> chunk;
    if (HRESULT hr = AllocateChunk(chunk); FAILED(hr)) return hr;
    for (;;) {
        ULONG got = 0;
        HRESULT hr = stream->Read(chunk.get(), kChunk, &got);
        if (FAILED(hr)) return hr;
        if (got == 0) return S_OK;
        if (out.size() + got > limit) return MAPI_E_TOO_BIG;
        out.insert(out.end(), chunk.get(), chunk.get() + got);
    }
}

class RtfReader final : public StreamImpl {
public:
    explicit RtfReader(std::vector<std::uint8_t> rtf) : rtf_(std::move(rtf)) {}

    HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
        if (read != nullptr) *read = 0;
        if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
        std::size_t take = std::min<std::size_t>(cb, rtf_.size() - position_);
        if (take != 0) std::memcpy(pv, rtf_.data() + position_, take);
        position_ += take;
        if (read != nullptr) *read = static_cast<ULONG>(take);
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        LONGLONG base = origin == STREAM_SEEK_SET   ? 0
                        : origin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(position_)
                        : origin == STREAM_SEEK_END ? static_cast<LONGLONG>(rtf_.size())
                                                    : -1;
        if (base < 0 || move.QuadPart < -base) return STG_E_INVALIDFUNCTION;
        ULONGLONG target = static_cast<ULONGLONG>(base + move.QuadPart);
        position_ = static_cast<std::size_t>(std::min<ULONGLONG>(target, rtf_.size()));
        if (newPosition != nullptr) newPosition->QuadPart = position_;
        return S_OK;
    }

protected:
    ULONGLONG KnownSize() const override { return rtf_.size(); }

private:
    std::vector<std::uint8_t> rtf_;
    std::size_t position_ = 0;
};

HRESULT DecodeStream(IStream* compressed, std::uint32_t maxRawSize,
                     std::vector<std::uint8_t>& rtf) {
    // LZFu never takes more than 9 bits per raw byte plus the header and the
    // end marker; a longer stream cannot be a valid body of that size.
    std::uint64_t limit = static_cast<std::uint64_t>(maxRawSize) / 8 * 9 + 64;
    std::vector<std::uint8_t> blob;
    HRESULT hr = ReadBounded(compressed, limit, blob);
    if (FAILED(hr)) return hr;
    // A reference of two bytes yields at most 17, so coded content never
    // grows more than ninefold: a header claiming more is damaged, and is
    // refused before the raw size is allocated.
    if (blob.size() >= kCompressedRtfHeaderSize) {
        std::uint64_t claimed =
            static_cast<std::uint64_t>(blob[4]) | static_cast<std::uint64_t>(blob[5]) << 8 |
            static_cast<std::uint64_t>(blob[6]) << 16 | static_cast<std::uint64_t>(blob[7]) << 24;
        if (claimed > (blob.size() - kCompressedRtfHeaderSize) * 9 + 64) {
            return claimed > maxRawSize ? MAPI_E_TOO_BIG : MAPI_E_CORRUPT_DATA;
        }
    }
    switch (DecompressRtf(blob, rtf, maxRawSize)) {
        case RtfDecodeStatus::kOk:
            return S_OK;
        case RtfDecodeStatus::kTooLarge:
            return MAPI_E_TOO_BIG;
        case RtfDecodeStatus::kOutOfMemory:
            return E_OUTOFMEMORY;
        default:
            return MAPI_E_CORRUPT_DATA;
    }
}

// ------------------------------------------------------------ text to RTF
class TextToRtfStream final : public StreamImpl {
public:
    TextToRtfStream(IStream* source, unsigned codePage, MapiBuffer<BYTE> chunk)
        : source_(source), converter_(codePage), chunk_(std::move(chunk)) {
        source_->AddRef();
    }

    HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
        if (read != nullptr) *read = 0;
        if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
        return Guard([&]() -> HRESULT {
            while (pending_.size() - offset_ < cb && !finished_) {
                if (offset_ > 0) {
                    pending_.erase(0, offset_);
                    offset_ = 0;
                }
                ULONG got = 0;
                HRESULT hr = source_->Read(chunk_.get(), kChunk, &got);
                if (FAILED(hr)) return hr;
                bool ok = got > 0 ? converter_.Convert(
                                        std::span<const std::uint8_t>(chunk_.get(), got), pending_)
                                  : converter_.Finish(pending_);
                if (!ok) return E_OUTOFMEMORY;
                if (got == 0) finished_ = true;
            }
            std::size_t take = std::min<std::size_t>(cb, pending_.size() - offset_);
            if (take != 0) std::memcpy(pv, pending_.data() + offset_, take);
            offset_ += take;
            if (read != nullptr) *read = static_cast<ULONG>(take);
            return S_OK;
        });
    }

private:
    Com<IStream> source_;
    TextToRtfConverter converter_;
    MapiBuffer<BYTE> chunk_;
    std::string pending_;
    std::size_t offset_ = 0;
    bool finished_ = false;
};

// ------------------------------------------------------- property stream
class PropertyStream final : public StreamImpl {
public:
    PropertyStream(IMAPIProp* object, ULONG tag, ULONG flags, MapiBuffer<BYTE> buffer)
        : object_(object), tag_(tag), flags_(flags), buffer_(std::move(buffer)) {
        object_->AddRef();
    }

    HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
        if (read != nullptr) *read = 0;
        if (HRESULT hr = Open(); FAILED(hr)) return hr;
        if (HRESULT hr = Flush(); FAILED(hr)) return hr;
        return inner_->Read(pv, cb, read);
    }
    HRESULT Write(const void* pv, ULONG cb, ULONG* written) override {
        if (written != nullptr) *written = 0;
        if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
        const BYTE* bytes = static_cast<const BYTE*>(pv);
        ULONG left = cb;
        while (left > 0) {
            if (used_ == kChunk) {
                if (HRESULT hr = Flush(); FAILED(hr)) return hr;
            }
            ULONG take = std::min(left, kChunk - used_);
            std::memcpy(buffer_.get() + used_, bytes, take);
            used_ += take;
            bytes += take;
            left -= take;
        }
        if (written != nullptr) *written = cb;
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        if (HRESULT hr = Flush(); FAILED(hr)) return hr;
        return inner_->Seek(move, origin, newPosition);
    }
    HRESULT SetSize(ULARGE_INTEGER size) override {
        if (HRESULT hr = Flush(); FAILED(hr)) return hr;
        return inner_->SetSize(size);
    }
    HRESULT Commit(DWORD flags) override {
        if (HRESULT hr = Flush(); FAILED(hr)) return hr;
        return inner_->Commit(flags);
    }
    HRESULT Stat(STATSTG* stat, DWORD flag) override {
        if (HRESULT hr = Flush(); FAILED(hr)) return hr;
        return inner_->Stat(stat, flag);
    }

private:
    HRESULT Open() {
        if (inner_) return S_OK;
        if (openFailed_ != S_OK) return openFailed_;
        ULONG options = STGM_READ;
        if ((flags_ & MAPI_MODIFY) != 0) options = STGM_WRITE | STGM_SHARE_EXCLUSIVE;
        if ((flags_ & MAPI_CREATE) != 0) options |= STGM_CREATE;
        Com<IUnknown> opened;
        HRESULT hr = object_->OpenProperty(tag_, &IID_IStream, options,
                                           flags_ | MAPI_DEFERRED_ERRORS, opened.out());
        if (SUCCEEDED(hr)) hr = AsStream(opened.get(), inner_);
        if (FAILED(hr)) openFailed_ = hr;
        return hr;
    }
    // Opens the property when needed and hands the buffered bytes over.
    HRESULT Flush() {
        if (HRESULT hr = Open(); FAILED(hr)) return hr;
        if (used_ == 0) return S_OK;
        HRESULT hr = WriteAll(inner_.get(), buffer_.get(), used_);
        used_ = 0;
        return hr;
    }

    Com<IMAPIProp> object_;
    ULONG tag_;
    ULONG flags_;
    MapiBuffer<BYTE> buffer_;
    ULONG used_ = 0;
    Com<IStream> inner_;
    HRESULT openFailed_ = S_OK;
};

template <class T, class... Args>
HRESULT MakeStream(LPSTREAM* result, Args&&... args) {
    T* stream = new (std::nothrow) T(std::forward<Args>(args)...);
    if (stream == nullptr) return E_OUTOFMEMORY;
    *result = stream;
    return S_OK;
}

}  // namespace

HRESULT RTFSync(LPMESSAGE message, ULONG flags, BOOL* updated) noexcept {
    if (updated != nullptr) *updated = FALSE;
    if (message == nullptr || updated == nullptr) return MAPI_E_INVALID_PARAMETER;
    if (flags != RTF_SYNC_BODY_CHANGED) return MAPI_E_NO_SUPPORT;
    return Guard([&]() -> HRESULT {
        SizedSPropTagArray(6, syncTags) = {
            6,
            {PR_RTF_IN_SYNC, PR_RTF_SYNC_BODY_CRC, PR_RTF_SYNC_BODY_COUNT, PR_RTF_SYNC_BODY_TAG_A,
             PR_RTF_SYNC_PREFIX_COUNT, PR_RTF_SYNC_TRAILING_COUNT}};
        ULONG count = 0;
        MapiBuffer<SPropValue> values;
        HRESULT hr = message->GetProps(reinterpret_cast<LPSPropTagArray>(&syncTags), 0, &count,
                                       detail::OutBuffer<SPropValue>(values));
        if (FAILED(hr)) return hr;
        if (!values || count != 6) return MAPI_E_CALL_FAILED;
        const SPropValue& bodyTag = values.get()[3];
        if (PROP_TYPE(bodyTag.ulPropTag) == PT_ERROR && bodyTag.Value.err != MAPI_E_NOT_FOUND)
            return bodyTag.Value.err;
        // Without a body tag there is nothing to merge the new body into; with
        // one, the stored RTF still describes the old body. Either way the RTF
        // no longer matches PR_BODY: it goes, and readers take the plain body.
        SizedSPropTagArray(7, dropTags) = {
            7,
            {PR_RTF_IN_SYNC, PR_RTF_SYNC_BODY_CRC, PR_RTF_SYNC_BODY_COUNT, PR_RTF_SYNC_BODY_TAG_A,
             PR_RTF_SYNC_PREFIX_COUNT, PR_RTF_SYNC_TRAILING_COUNT, PR_RTF_COMPRESSED}};
        MapiBuffer<SPropProblemArray> problems;
        hr = message->DeleteProps(reinterpret_cast<LPSPropTagArray>(&dropTags),
                                  detail::OutBuffer<SPropProblemArray>(problems));
        if (FAILED(hr)) return hr;
        SPropValue inSync{};
        inSync.ulPropTag = PR_RTF_IN_SYNC;
        inSync.Value.b = FALSE;
        hr = message->SetProps(1, &inSync, nullptr);
        if (FAILED(hr)) return hr;
        *updated = TRUE;
        return S_OK;
    });
}

HRESULT WrapCompressedRTFStream(LPSTREAM compressed, ULONG flags, LPSTREAM* result) noexcept {
    if (result != nullptr) *result = nullptr;
    if (compressed == nullptr || result == nullptr) return E_INVALIDARG;
    return Guard([&]() -> HRESULT {
        if ((flags & MAPI_MODIFY) != 0) {
            // An allocator that is out of memory fails the wrap itself, as
            // callers of the published function expect.
            MapiBuffer<BYTE> probe;
            if (HRESULT hr = AllocateChunk(probe); FAILED(hr)) return hr;
            return MakeStream<CompressedRtfWriter>(result, compressed,
                                                   (flags & STORE_UNCOMPRESSED_RTF) != 0);
        }
        std::vector<std::uint8_t> rtf;
        if (HRESULT hr = DecodeStream(compressed, kDefaultMaxRtfSize, rtf); FAILED(hr)) return hr;
        return MakeStream<RtfReader>(result, std::move(rtf));
    });
}

HRESULT HrTextToRtfStream(LPSTREAM source, ULONG codePage, ULONG positionCount,
                          const ULONG* positions, LPSTREAM* result) noexcept {
    (void)positionCount;  // attachment placeholders are not placed
    (void)positions;
    if (result != nullptr) *result = nullptr;
    if (source == nullptr || result == nullptr) return E_INVALIDARG;
    return Guard([&]() -> HRESULT {
        MapiBuffer<BYTE> chunk;
        if (HRESULT hr = AllocateChunk(chunk); FAILED(hr)) return hr;
        return MakeStream<TextToRtfStream>(result, source, codePage, std::move(chunk));
    });
}

HRESULT HrBodyFromTextFile(LPMESSAGE message, const char* path) noexcept {
    if (message == nullptr || path == nullptr) return E_INVALIDARG;
    return Guard([&]() -> HRESULT {
        Com<IStream> file;
        HRESULT hr = OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer,
                                      STGM_READ | STGM_SHARE_EXCLUSIVE, path, nullptr, file.out());
        if (FAILED(hr)) return hr;
        STATSTG stat{};
        if (hr = file->Stat(&stat, STATFLAG_NONAME); FAILED(hr)) return hr;

        Com<IStream> memory;
        if (hr = CreateStreamOnHGlobal(nullptr, TRUE, memory.out()); FAILED(hr)) return hr;
        ULARGE_INTEGER read{}, written{};
        if (hr = file->CopyTo(memory.get(), stat.cbSize, &read, &written); FAILED(hr)) return hr;
        if (read.QuadPart != stat.cbSize.QuadPart || written.QuadPart != read.QuadPart)
            return MAPI_E_CALL_FAILED;
        if (hr = memory->Commit(STGC_DEFAULT); FAILED(hr)) return hr;
        if (hr = SeekTo(memory.get(), 0); FAILED(hr)) return hr;

        Com<IStream> rtf;
        if (hr = HrTextToRtfStream(memory.get(), 0, 0, nullptr, rtf.out()); FAILED(hr)) return hr;

        Com<IUnknown> opened;
        if (hr = message->OpenProperty(PR_RTF_COMPRESSED, &IID_IStream, STGM_CREATE | STGM_WRITE,
                                       MAPI_MODIFY | MAPI_CREATE | MAPI_DEFERRED_ERRORS,
                                       opened.out());
            FAILED(hr))
            return hr;
        Com<IStream> property;
        if (hr = AsStream(opened.get(), property); FAILED(hr)) return hr;
        Com<IStream> wrapper;
        if (hr = WrapCompressedRTFStream(property.get(), MAPI_MODIFY | MAPI_CREATE, wrapper.out());
            FAILED(hr))
            return hr;
        ULARGE_INTEGER all;
        all.QuadPart = kWholeStream;
        if (hr = rtf->CopyTo(wrapper.get(), all, &read, &written); FAILED(hr)) return hr;
        if (written.QuadPart != read.QuadPart) return MAPI_E_CALL_FAILED;
        return wrapper->Commit(STGC_DEFAULT);
    });
}

HRESULT HrOpenPropertyStream(LPMAPIPROP object, ULONG tag, ULONG flags, LPSTREAM* result) noexcept {
    if (result != nullptr) *result = nullptr;
    if (object == nullptr || result == nullptr) return E_INVALIDARG;
    return Guard([&]() -> HRESULT {
        MapiBuffer<BYTE> buffer;
        if (HRESULT hr = AllocateChunk(buffer); FAILED(hr)) return hr;
        return MakeStream<PropertyStream>(result, object, tag, flags, std::move(buffer));
    });
}

HRESULT HrReadRtfBody(LPMAPIPROP object, std::string& rtf, std::uint32_t maxRawSize) noexcept {
    rtf.clear();
    if (object == nullptr) return E_INVALIDARG;
    return Guard([&]() -> HRESULT {
        Com<IUnknown> opened;
        HRESULT hr =
            object->OpenProperty(PR_RTF_COMPRESSED, &IID_IStream, STGM_READ, 0, opened.out());
        if (FAILED(hr)) return hr;
        Com<IStream> stream;
        if (hr = AsStream(opened.get(), stream); FAILED(hr)) return hr;
        std::vector<std::uint8_t> bytes;
        if (hr = DecodeStream(stream.get(), maxRawSize, bytes); FAILED(hr)) return hr;
        rtf.assign(bytes.begin(), bytes.end());
        return S_OK;
    });
}

}  // namespace faxmsg
