// registry_internal.h - fault injection for the settings store (tests only).
#pragma once

namespace base_internal {

// Called by a committing writer after the temporary file is complete and flushed, before it
// replaces the store, with the lock held. Null removes the hook. Process-wide.
using RegistryCommitHook = void (*)();
void SetRegistryCommitHook(RegistryCommitHook hook);

} // namespace base_internal
