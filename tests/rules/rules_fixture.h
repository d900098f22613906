#pragma once
// What the rules tests share: a simulated desktop with fresh encodings and a
// temporary directory of real files, removed with everything in it.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sim/simulated_desktop.h"
#include "rules/encoding.h"

namespace tessel {

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
        const std::filesystem::path path = FDirectory / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
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

// The shared encodings keep the code page of the desktop they were made on,
// so every test makes them afresh from its own desktop.
class RulesTest : public ::testing::Test {
protected:
    RulesTest() { TEncoding::FreeInstances(); }
    ~RulesTest() override { TEncoding::FreeInstances(); }

    SimulatedDesktop desktop;
    ScopedPlatform scope{desktop};
    TempFiles files;
};

}  // namespace tessel
