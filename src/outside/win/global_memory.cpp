// global_memory.cpp - global memory blocks behind a registry of live handles.
//
// Contents: Registry (live blocks by handle), size limit, fault injection, the Global* calls.
//
// Fixed blocks are registered under the address of their bytes; movable blocks under the
// address of a one-byte token allocated for the purpose, so that the handle of a movable block
// never equals the address of its bytes and stays the same when the bytes move.
#include "win/global_memory.h"

#include "win/fault_injection.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unistd.h>
#include <unordered_map>

namespace {

struct Block {
    void* bytes = nullptr;
    SIZE_T size = 0;
    bool movable = false;
    UINT locks = 0;
    std::unique_ptr<char> token; // movable blocks: the object whose address is the handle
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<const void*, Block> blocks;
};

Registry& registry()
{
    static Registry* r = new Registry; // never destroyed: blocks may be freed during exit
    return *r;
}

std::atomic<long> g_allocationsLeft{-1};

// Physical memory bounds any single request: larger sizes are refused before the allocator
// sees them (a size read from a damaged file must not abort the process).
SIZE_T sizeLimit()
{
    static const SIZE_T limit = [] {
        long pages = sysconf(_SC_PHYS_PAGES);
        long pageSize = sysconf(_SC_PAGESIZE);
        if (pages <= 0 || pageSize <= 0)
            return SIZE_T(1) << 32;
        return SIZE_T(pages) * SIZE_T(pageSize);
    }();
    return limit;
}

bool injectedFailure()
{
    long left = g_allocationsLeft.load();
    while (left >= 0) {
        if (left == 0)
            return true;
        if (g_allocationsLeft.compare_exchange_weak(left, left - 1))
            return false;
    }
    return false;
}

void* allocateBytes(SIZE_T bytes, bool zero)
{
    return zero ? std::calloc(1, bytes) : std::malloc(bytes);
}

Block* find(Registry& r, HGLOBAL handle)
{
    if (!handle)
        return nullptr;
    auto it = r.blocks.find(handle);
    return it == r.blocks.end() ? nullptr : &it->second;
}

} // namespace

void WinFailAllocationsAfter(long n)
{
    g_allocationsLeft.store(n < 0 ? -1 : n);
}

std::size_t WinLiveGlobalBlocks()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.blocks.size();
}

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes)
{
    if (bytes == 0 || bytes > sizeLimit() || injectedFailure())
        return nullptr;
    Block block;
    block.movable = (flags & GMEM_MOVEABLE) != 0;
    block.size = bytes;
    block.bytes = allocateBytes(bytes, (flags & GMEM_ZEROINIT) != 0);
    if (!block.bytes)
        return nullptr;
    const void* handle = block.bytes;
    if (block.movable) {
        block.token.reset(new (std::nothrow) char);
        if (!block.token) {
            std::free(block.bytes);
            return nullptr;
        }
        handle = block.token.get();
    }
    void* memory = block.bytes;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    try {
        r.blocks.emplace(handle, std::move(block));
    } catch (...) {
        std::free(memory);
        return nullptr;
    }
    return const_cast<void*>(handle);
}

void* GlobalLock(HGLOBAL handle)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    Block* block = find(r, handle);
    if (!block)
        return nullptr;
    if (block->movable && block->locks < 0xFFFFFFFFu)
        ++block->locks;
    return block->bytes;
}

BOOL GlobalUnlock(HGLOBAL handle)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    Block* block = find(r, handle);
    if (!block || !block->movable || block->locks == 0)
        return FALSE;
    --block->locks;
    return block->locks > 0 ? TRUE : FALSE;
}

UINT GlobalLockCount(HGLOBAL handle)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    Block* block = find(r, handle);
    return block ? block->locks : 0;
}

HGLOBAL GlobalFree(HGLOBAL handle)
{
    Registry& r = registry();
    void* bytes = nullptr;
    std::unique_ptr<char> token;
    {
        std::lock_guard lock(r.mutex);
        auto it = handle ? r.blocks.find(handle) : r.blocks.end();
        if (it == r.blocks.end())
            return handle;
        bytes = it->second.bytes;
        token = std::move(it->second.token);
        r.blocks.erase(it);
    }
    std::free(bytes);
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL handle)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    Block* block = find(r, handle);
    return block ? block->size : 0;
}

HGLOBAL GlobalReAlloc(HGLOBAL handle, SIZE_T bytes, UINT flags)
{
    if (bytes == 0 || bytes > sizeLimit())
        return nullptr;
    const bool zero = (flags & GMEM_ZEROINIT) != 0;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    Block* block = find(r, handle);
    if (!block)
        return nullptr;
    const SIZE_T old = block->size;
    if (bytes <= old) {
        // Shrinking keeps the bytes where they are (and the whole allocation behind them).
        block->size = bytes;
        return handle;
    }
    const bool mayMove = block->movable ? (block->locks == 0 || (flags & GMEM_MOVEABLE))
                                        : (flags & GMEM_MOVEABLE) != 0;
    if (!mayMove)
        return nullptr;
    void* grown = std::malloc(bytes);
    if (!grown)
        return nullptr;
    std::memcpy(grown, block->bytes, old);
    if (zero)
        std::memset(static_cast<char*>(grown) + old, 0, bytes - old);
    if (block->movable) {
        std::free(block->bytes);
        block->bytes = grown;
        block->size = bytes;
        return handle;
    }
    // A fixed block's handle is its address: it moves to a new handle.
    Block moved;
    moved.bytes = grown;
    moved.size = bytes;
    try {
        r.blocks.emplace(grown, std::move(moved));
    } catch (...) {
        std::free(grown);
        return nullptr;
    }
    void* oldBytes = block->bytes;
    r.blocks.erase(handle);
    std::free(oldBytes);
    return grown;
}
