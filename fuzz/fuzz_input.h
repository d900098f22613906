#pragma once
// What the fuzz targets share: bytes read as UTF-16 text in a form that
// keeps seed files readable, a simulated desktop installed once per
// process, and a failure that libFuzzer records as a crash with its input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/sim/simulated_desktop.h"

namespace tessel {

/// Bytes as code units: a byte below F8 is the unit of the same value, so
/// ASCII seeds read as themselves; F8 takes the next two bytes as one raw
/// unit (low byte first); F9 to FF stand for units that a text may hold and
/// a byte alone cannot name: both halves of a surrogate pair, a kana, the
/// first units beyond Latin-1, the ideographic space and the last unit.
inline std::u16string ReadUnits(std::string_view bytes) {
    static constexpr char16_t Named[] = {0xD83D, 0xDE00, 0x3042, 0x0100, 0x0141, 0x3000, 0xFFFF};
    std::u16string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0xF8) {
            text += static_cast<char16_t>(byte);
        } else if (byte == 0xF8) {
            if (i + 2 >= bytes.size()) break;
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i + 1]) |
                                          static_cast<unsigned char>(bytes[i + 2]) << 8);
            i += 2;
        } else {
            text += Named[byte - 0xF9];
        }
    }
    return text;
}

/// Where `byte` first stands for itself, not inside an F8 escape; the size
/// of `bytes` when it does not.
inline std::size_t FindPlainByte(std::string_view bytes, char byte) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == byte) return i;
        if (static_cast<unsigned char>(bytes[i]) == 0xF8) i += 2;
    }
    return bytes.size();
}

inline std::string_view AsBytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

/// The text up to its first U+0000, where the platform's texts end.
inline std::u16string_view UpToNull(std::u16string_view text) { return text.substr(0, text.find(u'\0')); }

/// One desktop for the whole run: the string table and the code pages are
/// read through it.
inline SimulatedDesktop& Desktop() {
    static SimulatedDesktop desktop;
    static ScopedPlatform scope(desktop);
    return desktop;
}

/// A broken expectation: printed, then abort(), which libFuzzer reports as
/// a crash and saves the input for.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void Check(bool condition, const char* what) {
    if (!condition) Fail(what);
}

}  // namespace tessel
