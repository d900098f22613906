#pragma once
// What the host tests share: the fixture every test starts from (a simulated
// desktop installed as the platform, with one 1920 x 1080 monitor whose
// taskbar leaves 1040), the rules of a run, and a temporary directory of
// real files.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "main/tessel.h"
#include "masks/mask.h"
#include "platform/sim/simulated_desktop.h"
#include "rules/string_list.h"
#include "wndinfo/wnd_info.h"

namespace tessel {

class DesktopTest : public ::testing::Test {
protected:
    DesktopTest() { desktop.Monitors.push_back({{0, 0, 1920, 1080}, {0, 0, 1920, 1040}}); }

    SimulatedDesktop desktop;
    ScopedPlatform scope{desktop};
};

/// The rule list with the built-in rules and an empty mask cache, as the
/// main block makes them for a run; both released at the end of the scope.
struct RunRules {
    RunRules() {
        ExclusionRules = std::make_unique<TStringList>();
        AddBuiltInRules(*ExclusionRules);
        CompiledMasks = std::make_unique<TMaskCache>();
        VirtualDesktops = std::make_unique<TVirtualDesktops>();
    }
    ~RunRules() {
        VirtualDesktops.reset();
        CompiledMasks.reset();
        ExclusionRules.reset();
    }
    RunRules(const RunRules&) = delete;
    RunRules& operator=(const RunRules&) = delete;
};

using Bytes = std::vector<std::uint8_t>;

class TempFiles {
public:
    TempFiles() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessel-rules-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a temporary directory";
        FDirectory = pattern;
    }
    ~TempFiles() {
        std::error_code ignored;
        std::filesystem::remove_all(FDirectory, ignored);
    }
    TempFiles(const TempFiles&) = delete;
    TempFiles& operator=(const TempFiles&) = delete;

    /// Writes the bytes to a file of that name; answers its full path.
    std::u16string Write(const std::string& name, const Bytes& bytes) const {
        return WriteText(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    std::u16string WriteText(const std::string& name, std::string_view bytes) const {
        std::ofstream(FDirectory / name, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return Path(name);
    }

    /// The full path of a name in the directory (ASCII names only).
    std::u16string Path(const std::string& name) const {
        const std::string path = (FDirectory / name).string();
        return std::u16string(path.begin(), path.end());
    }

    const std::filesystem::path& Directory() const { return FDirectory; }

private:
    std::filesystem::path FDirectory;
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
