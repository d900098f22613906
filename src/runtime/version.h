#pragma once
// The operating system's version, read once at start-up, and the desktop
// composition query that it gates.
#include <cstdint>
#include <string>

namespace tessel {

struct TStartupVersion {
    std::int32_t Major = 0;
    std::int32_t Minor = 0;
    std::int32_t Build = 0;
};

struct TPlatformVersion {
    std::int32_t Major = 0;
    std::int32_t Minor = 0;
    std::int32_t Build = 0;
    std::uint32_t PlatformId = 0;
    std::u16string ServicePack;
};

/// Filled by `CaptureVersionFacts` before the main block runs.
extern TStartupVersion StartupVersion;

/// The start-up step of the version facts: fills `StartupVersion` (with the
/// product version of kernel32.dll, or the workstation's version, beyond
/// 6.1) and then makes `PlatformVersion` from it.
void CaptureVersionFacts();

/// Made on first use under a lock and kept unchanged afterwards.
const TPlatformVersion& PlatformVersion();

/// Whether desktop composition is on; false below version 6 without asking.
bool IsCompositionEnabled();

}  // namespace tessel
