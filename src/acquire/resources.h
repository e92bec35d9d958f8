// resources.h - the acquisition folder's resources in the library module.
#pragma once

namespace dib {

// Registers dialog resource 5290 (the Photo CD resolution dialog) with the library module.
// Idempotent and thread-safe; start-up and the dialog itself call it.
void RegistrarRecursosAdquisicio();

} // namespace dib
