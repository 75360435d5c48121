// MAPIAllocateBuffer blocks: a header in front of each block links the blocks
// allocated "more" onto their root, so one MAPIFreeBuffer frees them all.
#include <cstdlib>
#include <mutex>

#include "ovmapi/faults.h"
#include "ovmapi/mapix.h"

namespace {

constexpr std::uint32_t kRootMagic = 0x4F564D52;  // "OVMR"
constexpr std::uint32_t kMoreMagic = 0x4F564D4D;  // "OVMM"

struct alignas(16) BlockHeader {
    std::uint32_t magic;
    std::uint32_t size;
    BlockHeader* root;   // the root block (self for a root)
    BlockHeader* next;   // next block linked to the same root
    BlockHeader* last;   // (root only) last block of the chain, for O(1) linking
};
static_assert(sizeof(BlockHeader) % 16 == 0);

// Linking "more" blocks onto a root is guarded so that two threads may add
// to different roots without harm; adding to one root from two threads at a
// time is not something callers do.
std::mutex& LinkMutex() {
    static std::mutex mutex;
    return mutex;
}

BlockHeader* HeaderOf(void* buffer) { return static_cast<BlockHeader*>(buffer) - 1; }

void* NewBlock(ULONG size, std::uint32_t magic) {
    // A request beyond what fits in 32 bits with the header is refused.
    if (size > 0x7FFFFFFFu - sizeof(BlockHeader)) return nullptr;
    void* raw = std::aligned_alloc(16, ((sizeof(BlockHeader) + size + 15) / 16) * 16);
    if (raw == nullptr) return nullptr;
    auto* header = static_cast<BlockHeader*>(raw);
    header->magic = magic;
    header->size = size;
    header->root = header;
    header->next = nullptr;
    header->last = header;
    return header + 1;
}

}  // namespace

extern "C" SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer) {
    if (lppBuffer == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = nullptr;
    if (HRESULT fault = ovmapi::faults::Check("MAPIAllocateBuffer"); FAILED(fault)) return fault;
    void* block = NewBlock(cbSize, kRootMagic);
    if (block == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
    *lppBuffer = block;
    return S_OK;
}

extern "C" SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer) {
    if (lppBuffer == nullptr) return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = nullptr;
    if (lpObject == nullptr) return MAPI_E_INVALID_PARAMETER;
    BlockHeader* parent = HeaderOf(lpObject);
    if (parent->magic != kRootMagic && parent->magic != kMoreMagic) return MAPI_E_INVALID_PARAMETER;
    if (HRESULT fault = ovmapi::faults::Check("MAPIAllocateMore"); FAILED(fault)) return fault;
    void* block = NewBlock(cbSize, kMoreMagic);
    if (block == nullptr) return MAPI_E_NOT_ENOUGH_MEMORY;
    BlockHeader* header = HeaderOf(block);
    std::lock_guard lock(LinkMutex());
    BlockHeader* root = parent->root;
    header->root = root;
    root->last->next = header;
    root->last = header;
    *lppBuffer = block;
    return S_OK;
}

extern "C" ULONG MAPIFreeBuffer(LPVOID lpBuffer) {
    if (lpBuffer == nullptr) return 0;
    BlockHeader* header = HeaderOf(lpBuffer);
    // A linked block goes with its root; freeing it alone would break the chain.
    if (header->magic != kRootMagic) return header->magic == kMoreMagic ? 0 : static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
    BlockHeader* block = header;
    while (block != nullptr) {
        BlockHeader* next = block->next;
        block->magic = 0;
        std::free(block);
        block = next;
    }
    return 0;
}
