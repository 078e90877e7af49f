#pragma once

namespace srKrv {

// The module's process-wide count of live reference-counted objects (memory and string
// objects); a module may be unloaded only while it is 0.
long GetObjectCount() noexcept;
void IncrementObjectCount() noexcept;
void DecrementObjectCount() noexcept;

} // namespace srKrv
