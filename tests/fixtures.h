#pragma once
// The fixture every host test starts from: a simulated desktop installed as
// the platform, with one 1920 x 1080 monitor whose taskbar leaves 1040.
#include <gtest/gtest.h>

#include <string>

#include "platform/sim/simulated_desktop.h"

namespace tessel {

class DesktopTest : public ::testing::Test {
protected:
    DesktopTest() { desktop.Monitors.push_back({{0, 0, 1920, 1080}, {0, 0, 1920, 1040}}); }

    SimulatedDesktop desktop;
    ScopedPlatform scope{desktop};
};

/// Readable UTF-16 in failure messages.
inline std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            static constexpr char Hex[] = "0123456789ABCDEF";
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out += Hex[(c >> shift) & 0xF];
        }
    }
    return out;
}

}  // namespace tessel
