// Owners of what the mail-system layer hands out: interface pointers are
// released, buffers freed with MAPIFreeBuffer, row sets and address lists
// with their own free functions.
#pragma once

#include <memory>

#include "ovmapi/mapiutil.h"

namespace faxmsg::detail {

struct Releaser {
    void operator()(IUnknown* object) const noexcept {
        if (object != nullptr) object->Release();
    }
};

// An interface pointer released when the holder goes. out() hands the slot to
// a call that fills it.
template <class T>
class Com {
public:
    Com() = default;
    explicit Com(T* object) : object_(object) {}
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    Com(Com&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    Com& operator=(Com&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = other.object_;
            other.object_ = nullptr;
        }
        return *this;
    }
    ~Com() { reset(); }

    void reset(T* object = nullptr) noexcept {
        if (object_ != nullptr) reinterpret_cast<IUnknown*>(object_)->Release();
        object_ = object;
    }
    T* release() noexcept {
        T* object = object_;
        object_ = nullptr;
        return object;
    }
    T** out() noexcept {
        reset();
        return &object_;
    }
    T* get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

struct BufferFree {
    void operator()(void* block) const noexcept {
        if (block != nullptr) MAPIFreeBuffer(block);
    }
};
template <class T>
using MapiBuffer = std::unique_ptr<T, BufferFree>;

struct RowsFree {
    void operator()(SRowSet* rows) const noexcept { FreeProws(rows); }
};
using Rows = std::unique_ptr<SRowSet, RowsFree>;

struct AdrListFree {
    void operator()(ADRLIST* list) const noexcept { FreePadrlist(list); }
};
using AdrList = std::unique_ptr<ADRLIST, AdrListFree>;

// Fills a holder through a T** out parameter. The holder receives the
// pointer when this temporary goes, at the end of the full expression: test
// the holder in a later statement.
template <class T>
class OutBuffer {
public:
    explicit OutBuffer(MapiBuffer<T>& holder) : holder_(holder) {}
    ~OutBuffer() { holder_.reset(raw_); }
    operator T**() noexcept { return &raw_; }

private:
    MapiBuffer<T>& holder_;
    T* raw_ = nullptr;
};

}  // namespace faxmsg::detail
