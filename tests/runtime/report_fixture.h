#pragma once
// What the failure-report tests share: a simulated desktop whose memory holds
// Tessel.exe at 0x00400000, a system module, committed memory that belongs
// to no module, and reserved memory; every other address is free.
#include <cstdint>

#include "fixtures.h"

namespace tessel {

inline const void* Address(std::uintptr_t value) { return reinterpret_cast<const void*>(value); }

class MemoryMapTest : public DesktopTest {
protected:
    MemoryMapTest() {
        desktop.Regions = {
            {0x00400000, 0x00010000, 0x00400000, MEM_COMMIT, desktop.ExecutablePath},
            {0x76A10000, 0x00020000, 0x76A10000, MEM_COMMIT, u"C:\\Windows\\SysWOW64\\USER32.dll"},
            {0x02000000, 0x00100000, 0x02000000, MEM_COMMIT, u""},
            {0x05000000, 0x00010000, 0x05000000, MemReserve, u""},
            {0x00600000, 0x00001000, 0x00600000, MEM_COMMIT, u"NoDirectory.dll"},
        };
    }

    static constexpr std::uint32_t MemReserve = 0x2000;
};

}  // namespace tessel
