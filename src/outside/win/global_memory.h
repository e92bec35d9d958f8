// global_memory.h - Windows-shaped global memory blocks (GlobalAlloc and companions).
//
// A handle names a block in a registry of live blocks, so every call validates its handle: a
// null, freed or foreign handle gives the failure result of the call and never touches memory.
// All calls are thread-safe.
//
// Fixed blocks (GMEM_FIXED): the handle is the address of the bytes, as on Windows, and
// GlobalLock returns it unchanged. Movable blocks (GMEM_MOVEABLE): the handle is an opaque token;
// GlobalLock returns the bytes and counts the lock, GlobalUnlock uncounts it.
//
// Sizes: a request of 0 bytes, or of more bytes than the machine's physical memory, is refused
// with a null handle (the limit keeps absurd sizes read from files from reaching the allocator).
#pragma once

#include "../outside_api.h"
#include "windef.h"

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// A new block of bytes bytes; GMEM_ZEROINIT clears it. Other flag bits are ignored.
// Null when bytes is 0, too large, or memory is exhausted (or a test made allocations fail).
OUTSIDE_API HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);

// The address of the block's bytes; null for a bad handle. Movable blocks count the lock.
OUTSIDE_API void* GlobalLock(HGLOBAL block);

// Uncounts one lock of a movable block. TRUE while the block stays locked, FALSE when the lock
// count reaches 0, for fixed blocks, for unlocked blocks and for bad handles (as on Windows).
OUTSIDE_API BOOL GlobalUnlock(HGLOBAL block);

// Frees the block whatever its lock count. Null on success; the handle itself for a bad handle.
OUTSIDE_API HGLOBAL GlobalFree(HGLOBAL block);

// The block's size in bytes as last requested; 0 for a bad handle.
OUTSIDE_API SIZE_T GlobalSize(HGLOBAL block);

// Resizes a block, keeping its first min(old, new) bytes; GMEM_ZEROINIT clears grown bytes.
// A movable block keeps its handle (its bytes may move unless it is locked: a locked movable
// block is only resized in place, i.e. shrunk, unless flags carry GMEM_MOVEABLE). A fixed block
// is only resized in place unless flags carry GMEM_MOVEABLE, in which case the result may be a
// new handle and the old one is no longer valid. Null on failure (bad handle, size 0, too
// large, out of memory); the block is then unchanged.
OUTSIDE_API HGLOBAL GlobalReAlloc(HGLOBAL block, SIZE_T bytes, UINT flags);

// The lock count of a movable block (0 for fixed blocks and bad handles).
OUTSIDE_API UINT GlobalLockCount(HGLOBAL block);
