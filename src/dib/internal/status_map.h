// status_map.h - the one mapping from a raster-kernel (or own-reader) result to a library status.
//
// Kernel results are > 0 for success, 0 or negative for failure, -100 when a callback stopped
// the operation. Library statuses are 0 for success, -5 for a failure without a specific code
// (cancellation included) and e - 3000 for any other kernel code e. Every library folder maps
// results through this helper and nothing else.
#pragma once

#include <cstdint>
#include <dib/Status.h>

namespace dib {

constexpr int kKernelCancelled = -100;

constexpr int StatusFromKernel(std::int64_t r)
{
    if (r > 0)
        return DIB_OK;
    if (r == 0 || r == kKernelCancelled)
        return DIB_ERR_FAILED;
    // Kernel codes are small; anything that would not fit an int after the shift is a
    // corrupted result and is reported as the plain failure.
    if (r < INT32_MIN - DIB_STATUS_KERNEL_BASE)
        return DIB_ERR_FAILED;
    return static_cast<int>(r) + DIB_STATUS_KERNEL_BASE;
}

} // namespace dib
