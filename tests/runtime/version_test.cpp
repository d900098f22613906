#include "runtime/version.h"

#include <gtest/gtest.h>

#include <optional>

#include "fixtures.h"

namespace tessel {
namespace {

FixedFileInfo ProductVersion(std::uint16_t major, std::uint16_t minor, std::uint16_t build) {
    FixedFileInfo info;
    info.dwProductVersionMS = (std::uint32_t{major} << 16) | minor;
    info.dwProductVersionLS = std::uint32_t{build} << 16;
    info.dwFileVersionMS = 0x00050001;  // never read
    return info;
}

class VersionFacts : public DesktopTest {};

TEST_F(VersionFacts, BeyondSixOneTheSystemFilesAreAsked) {
    const struct {
        const char* Why;
        std::uint32_t Major, Minor, Build;
        std::optional<FixedFileInfo> Kernel32;
        std::optional<WkstaInfo100> Workstation;
        TStartupVersion Expected;
    } cases[] = {
        {"6.1 is taken as reported", 6, 1, 7601, ProductVersion(10, 0, 1), std::nullopt, {6, 1, 7601}},
        {"5.1 is taken as reported", 5, 1, 2600, ProductVersion(10, 0, 1), std::nullopt, {5, 1, 2600}},
        {"the product version of kernel32.dll", 6, 2, 9200, ProductVersion(10, 0, 19041), std::nullopt,
         {10, 0, 19041}},
        {"the workstation when kernel32.dll has no version", 6, 2, 9200, std::nullopt,
         WkstaInfo100{500, nullptr, nullptr, 10, 0}, {10, 0, 9200}},
        {"the reported version when both fail", 6, 3, 9600, std::nullopt, std::nullopt, {6, 3, 9600}},
        {"major beyond 6", 10, 0, 18362, ProductVersion(10, 0, 19045), std::nullopt, {10, 0, 19045}},
    };
    for (const auto& c : cases) {
        desktop.Version.dwMajorVersion = c.Major;
        desktop.Version.dwMinorVersion = c.Minor;
        desktop.Version.dwBuildNumber = c.Build;
        desktop.Kernel32Version = c.Kernel32;
        desktop.Workstation = c.Workstation;
        CaptureVersionFacts();
        EXPECT_EQ(StartupVersion.Major, c.Expected.Major) << c.Why;
        EXPECT_EQ(StartupVersion.Minor, c.Expected.Minor) << c.Why;
        EXPECT_EQ(StartupVersion.Build, c.Expected.Build) << c.Why;
        EXPECT_EQ(PlatformVersion().Major, c.Expected.Major) << c.Why;
        EXPECT_EQ(PlatformVersion().Build, c.Expected.Build) << c.Why;
    }
}

TEST_F(VersionFacts, PlatformVersionKeepsTheSystemsPlatformAndServicePack) {
    std::u16string_view pack = u"Service Pack 1";
    std::copy(pack.begin(), pack.end(), desktop.Version.szCSDVersion);
    CaptureVersionFacts();
    EXPECT_EQ(PlatformVersion().PlatformId, 2u);
    EXPECT_EQ(PlatformVersion().ServicePack, pack);
    desktop.Version.dwPlatformId = 1;
    EXPECT_EQ(PlatformVersion().PlatformId, 2u) << "made once, then kept";
}

TEST_F(VersionFacts, CompositionIsNotAskedBeforeVersionSix) {
    desktop.Composition = true;
    desktop.Version.dwMajorVersion = 5;
    CaptureVersionFacts();
    EXPECT_FALSE(IsCompositionEnabled());
    EXPECT_EQ(desktop.DwmLoads, 0);
    desktop.Version.dwMajorVersion = 6;
    CaptureVersionFacts();
    EXPECT_TRUE(IsCompositionEnabled());
}

}  // namespace
}  // namespace tessel
