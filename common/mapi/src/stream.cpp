// Streams: over bytes in memory (property streams, memory streams) and over
// files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "internal.h"
#include "ovplatform/platform.h"

namespace ovmapi::detail {
namespace {

constexpr std::uint64_t kMaxStreamBytes = 1ull << 31;  // what a property or memory stream may hold

HRESULT CopyBetween(IStream* from, IStream* to, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                    ULARGE_INTEGER* pcbWritten) {
    if (to == nullptr) return STG_E_INVALIDPOINTER;
    std::uint64_t left = cb.QuadPart;
    std::uint64_t read = 0;
    std::uint64_t written = 0;
    std::vector<char> buffer(64 * 1024);
    HRESULT result = S_OK;
    while (left > 0) {
        ULONG chunk = static_cast<ULONG>(std::min<std::uint64_t>(left, buffer.size()));
        ULONG got = 0;
        result = from->Read(buffer.data(), chunk, &got);
        if (FAILED(result)) break;
        if (got == 0) break;
        read += got;
        ULONG put = 0;
        result = to->Write(buffer.data(), got, &put);
        written += put;
        if (FAILED(result)) break;
        if (put != got) {
            result = STG_E_MEDIUMFULL;
            break;
        }
        left -= got;
    }
    if (pcbRead != nullptr) pcbRead->QuadPart = read;
    if (pcbWritten != nullptr) pcbWritten->QuadPart = written;
    return FAILED(result) ? result : S_OK;
}

template <class Derived>
class StreamBase : public ComObject<Derived, IStream> {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IStream) {
            this->AddRef();
            *object = static_cast<IStream*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT CopyTo(IStream* to, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override {
        if (pcbRead != nullptr) pcbRead->QuadPart = 0;
        if (pcbWritten != nullptr) pcbWritten->QuadPart = 0;
        HRESULT fault = faults::Check("IStream::CopyTo");
        if (FAILED(fault)) return fault;
        return WithWarning(fault, Guarded([&] { return CopyBetween(this, to, cb, pcbRead, pcbWritten); }));
    }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT Clone(IStream** stream) override {
        if (stream != nullptr) *stream = nullptr;
        return STG_E_INVALIDFUNCTION;
    }

protected:
    static HRESULT NewPosition(std::uint64_t current, std::uint64_t size, LARGE_INTEGER move, DWORD origin,
                               std::uint64_t& position) {
        std::int64_t base = origin == STREAM_SEEK_SET   ? 0
                            : origin == STREAM_SEEK_CUR ? static_cast<std::int64_t>(current)
                            : origin == STREAM_SEEK_END ? static_cast<std::int64_t>(size)
                                                        : -1;
        if (base < 0) return STG_E_INVALIDFUNCTION;
        std::int64_t target = base + move.QuadPart;
        if (target < 0) return STG_E_INVALIDFUNCTION;
        position = static_cast<std::uint64_t>(target);
        return S_OK;
    }
};

class BytesStream final : public StreamBase<BytesStream> {
public:
    BytesStream(std::string data, bool writable, std::function<HRESULT(const std::string&)> onCommit, IUnknown* keepAlive)
        : data_(std::move(data)), writable_(writable), onCommit_(std::move(onCommit)), keepAlive_(keepAlive) {
        if (keepAlive_) keepAlive_->AddRef();
    }
    ~BytesStream() {
        if (keepAlive_) keepAlive_->Release();
    }

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pcbRead != nullptr) *pcbRead = 0;
        HRESULT fault = faults::Check("IStream::Read");
        if (FAILED(fault)) return fault;
        if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
        std::size_t available = position_ < data_.size() ? data_.size() - position_ : 0;
        std::size_t take = std::min<std::size_t>(cb, available);
        if (take != 0) std::memcpy(pv, data_.data() + position_, take);
        position_ += take;
        if (pcbRead != nullptr) *pcbRead = static_cast<ULONG>(take);
        return WithWarning(fault, S_OK);
    }

    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pcbWritten != nullptr) *pcbWritten = 0;
        HRESULT fault = faults::Check("IStream::Write");
        if (FAILED(fault)) return fault;
        if (!writable_) return STG_E_ACCESSDENIED;
        if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
        if (position_ + cb > kMaxStreamBytes) return STG_E_MEDIUMFULL;
        return Guarded([&] {
            if (data_.size() < position_ + cb) data_.resize(position_ + cb, '\0');
            if (cb != 0) std::memcpy(data_.data() + position_, pv, cb);
            position_ += cb;
            if (pcbWritten != nullptr) *pcbWritten = cb;
            return WithWarning(fault, S_OK);
        });
    }

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        HRESULT fault = faults::Check("IStream::Seek");
        if (FAILED(fault)) return fault;
        std::uint64_t position = 0;
        if (HRESULT hr = NewPosition(position_, data_.size(), move, origin, position); FAILED(hr)) return hr;
        if (position > kMaxStreamBytes) return STG_E_INVALIDFUNCTION;
        position_ = static_cast<std::size_t>(position);
        if (newPosition != nullptr) newPosition->QuadPart = position_;
        return WithWarning(fault, S_OK);
    }

    HRESULT SetSize(ULARGE_INTEGER size) override {
        if (!writable_) return STG_E_ACCESSDENIED;
        if (size.QuadPart > kMaxStreamBytes) return STG_E_MEDIUMFULL;
        return Guarded([&] {
            data_.resize(static_cast<std::size_t>(size.QuadPart), '\0');
            return S_OK;
        });
    }

    HRESULT Commit(DWORD) override {
        HRESULT fault = faults::Check("IStream::Commit");
        if (FAILED(fault)) return fault;
        if (!writable_ || !onCommit_) return WithWarning(fault, S_OK);
        return WithWarning(fault, Guarded([&] { return onCommit_(data_); }));
    }

    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        HRESULT fault = faults::Check("IStream::Stat");
        if (FAILED(fault)) return fault;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = data_.size();
        stat->grfMode = writable_ ? STGM_READWRITE : STGM_READ;
        return WithWarning(fault, S_OK);
    }

private:
    std::string data_;
    std::size_t position_ = 0;
    bool writable_;
    std::function<HRESULT(const std::string&)> onCommit_;
    IUnknown* keepAlive_;
};

class FileStream final : public StreamBase<FileStream> {
public:
    FileStream(int fd, bool writable) : fd_(fd), writable_(writable) {}
    ~FileStream() { ::close(fd_); }

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pcbRead != nullptr) *pcbRead = 0;
        HRESULT fault = faults::Check("IStream::Read");
        if (FAILED(fault)) return fault;
        if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
        std::size_t done = 0;
        while (done < cb) {
            ssize_t got = ::pread(fd_, static_cast<char*>(pv) + done, cb - done, static_cast<off_t>(position_ + done));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return STG_E_ACCESSDENIED;
            if (got == 0) break;
            done += static_cast<std::size_t>(got);
        }
        position_ += done;
        if (pcbRead != nullptr) *pcbRead = static_cast<ULONG>(done);
        return WithWarning(fault, S_OK);
    }

    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pcbWritten != nullptr) *pcbWritten = 0;
        HRESULT fault = faults::Check("IStream::Write");
        if (FAILED(fault)) return fault;
        if (!writable_) return STG_E_ACCESSDENIED;
        if (pv == nullptr && cb != 0) return STG_E_INVALIDPOINTER;
        std::size_t done = 0;
        while (done < cb) {
            ssize_t put = ::pwrite(fd_, static_cast<const char*>(pv) + done, cb - done, static_cast<off_t>(position_ + done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return errno == ENOSPC ? STG_E_MEDIUMFULL : STG_E_ACCESSDENIED;
            done += static_cast<std::size_t>(put);
        }
        position_ += done;
        if (pcbWritten != nullptr) *pcbWritten = static_cast<ULONG>(done);
        return WithWarning(fault, S_OK);
    }

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        HRESULT fault = faults::Check("IStream::Seek");
        if (FAILED(fault)) return fault;
        struct stat info{};
        if (::fstat(fd_, &info) != 0) return STG_E_ACCESSDENIED;
        std::uint64_t position = 0;
        if (HRESULT hr = NewPosition(position_, static_cast<std::uint64_t>(info.st_size), move, origin, position); FAILED(hr))
            return hr;
        position_ = position;
        if (newPosition != nullptr) newPosition->QuadPart = position_;
        return WithWarning(fault, S_OK);
    }

    HRESULT SetSize(ULARGE_INTEGER size) override {
        if (!writable_) return STG_E_ACCESSDENIED;
        return ::ftruncate(fd_, static_cast<off_t>(size.QuadPart)) == 0 ? S_OK : STG_E_MEDIUMFULL;
    }

    HRESULT Commit(DWORD) override {
        HRESULT fault = faults::Check("IStream::Commit");
        if (FAILED(fault)) return fault;
        if (writable_ && ::fsync(fd_) != 0) return STG_E_MEDIUMFULL;
        return WithWarning(fault, S_OK);
    }

    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        HRESULT fault = faults::Check("IStream::Stat");
        if (FAILED(fault)) return fault;
        struct stat info{};
        if (::fstat(fd_, &info) != 0) return STG_E_ACCESSDENIED;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = static_cast<std::uint64_t>(info.st_size);
        stat->grfMode = writable_ ? STGM_READWRITE : STGM_READ;
        std::uint64_t ticks = static_cast<std::uint64_t>(info.st_mtime) * 10000000ull + 116444736000000000ull;
        stat->mtime.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
        stat->mtime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
        return WithWarning(fault, S_OK);
    }

private:
    int fd_;
    std::uint64_t position_ = 0;
    bool writable_;
};

}  // namespace

HRESULT CreateBytesStream(std::string initial, bool writable, std::function<HRESULT(const std::string&)> onCommit,
                          IUnknown* keepAlive, LPSTREAM* stream) {
    *stream = new BytesStream(std::move(initial), writable, std::move(onCommit), keepAlive);
    return S_OK;
}

}  // namespace ovmapi::detail

using namespace ovmapi::detail;

extern "C" HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, LPSTREAM* ppstm) {
    (void)fDeleteOnRelease;
    if (ppstm == nullptr) return E_INVALIDARG;
    *ppstm = nullptr;
    if (hGlobal != nullptr) return E_INVALIDARG;  // only new blocks are offered
    HRESULT fault = ovmapi::faults::Check("CreateStreamOnHGlobal");
    if (FAILED(fault)) return fault;
    return Guarded([&] { return WithWarning(fault, CreateBytesStream({}, true, {}, nullptr, ppstm)); });
}

extern "C" HRESULT OpenStreamOnFile(LPALLOCATEBUFFER lpAllocateBuffer, LPFREEBUFFER lpFreeBuffer, ULONG ulFlags,
                                    LPCSTR lpszFileName, LPCSTR lpszPrefix, LPSTREAM* lppStream) {
    (void)lpAllocateBuffer;
    (void)lpFreeBuffer;
    (void)lpszPrefix;
    if (lppStream == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppStream = nullptr;
    if (lpszFileName == nullptr) return MAPI_E_INVALID_PARAMETER;
    HRESULT fault = ovmapi::faults::Check("OpenStreamOnFile");
    if (FAILED(fault)) return fault;
    return Guarded([&]() -> HRESULT {
        std::string path = ov::MapPath(lpszFileName);
        bool writable = (ulFlags & (STGM_WRITE | STGM_READWRITE)) != 0;
        int flags = O_CLOEXEC | (writable ? ((ulFlags & STGM_READWRITE) ? O_RDWR : O_WRONLY) : O_RDONLY);
        if ((ulFlags & STGM_CREATE) != 0 && writable) flags |= O_CREAT | O_TRUNC;
        int fd = ::open(path.c_str(), flags, 0600);
        if (fd < 0) return errno == ENOENT ? MAPI_E_NOT_FOUND : MAPI_E_NO_ACCESS;
        struct stat info{};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            return MAPI_E_NO_ACCESS;
        }
        // Sharing: a writer holds a write lock; an exclusive or deny-write
        // reader holds a read lock, which fails while someone writes.
        DWORD share = ulFlags & 0x70;
        if (writable || share == STGM_SHARE_EXCLUSIVE || share == STGM_SHARE_DENY_WRITE) {
            struct flock lock{};
            lock.l_type = writable ? F_WRLCK : F_RDLCK;
            lock.l_whence = SEEK_SET;
            if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
                ::close(fd);
                return STG_E_ACCESSDENIED;
            }
        }
        *lppStream = new FileStream(fd, writable);
        return WithWarning(fault, S_OK);
    });
}
