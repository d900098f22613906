#include "runtime/version.h"

#include <memory>
#include <iterator>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace tessel {

TStartupVersion StartupVersion;

namespace {

std::mutex PlatformVersionLock;
std::unique_ptr<TPlatformVersion> PlatformVersionCopy;

// Beyond 6.1 the version query reports what the manifest declares rather
// than the running system, so the system's own kernel32.dll is asked.
bool ReadFileProductVersion(TStartupVersion& version) {
    const char16_t* const file = u"kernel32.dll";
    const std::uint32_t size = Os().GetFileVersionInfoSizeW(file);
    if (size == 0) return false;
    std::vector<unsigned char> block(size);
    if (!Os().GetFileVersionInfoW(file, size, block.data())) return false;
    const void* value = nullptr;
    std::uint32_t length = 0;
    if (!Os().VerQueryValueW(block.data(), u"\\", &value, &length) || value == nullptr ||
        length < sizeof(FixedFileInfo))
        return false;
    const auto* info = static_cast<const FixedFileInfo*>(value);
    version.Major = static_cast<std::int32_t>(info->dwProductVersionMS >> 16);
    version.Minor = static_cast<std::int32_t>(info->dwProductVersionMS & 0xFFFF);
    version.Build = static_cast<std::int32_t>(info->dwProductVersionLS >> 16);
    return true;
}

bool ReadWorkstationVersion(TStartupVersion& version) {
    void* buffer = nullptr;
    const std::uint32_t status = Os().NetWkstaGetInfo(nullptr, 100, &buffer);
    const bool ok = status == 0 && buffer != nullptr;
    if (ok) {
        const auto* info = static_cast<const WkstaInfo100*>(buffer);
        version.Major = static_cast<std::int32_t>(info->wki100_ver_major);
        version.Minor = static_cast<std::int32_t>(info->wki100_ver_minor);
    }
    if (buffer != nullptr) Os().NetApiBufferFree(buffer);
    return ok;
}

}  // namespace

void CaptureVersionFacts() {
    OsVersionInfo info;
    info.dwOSVersionInfoSize = OsVersionInfoExSize;
    Os().GetVersionExW(&info);
    TStartupVersion version{static_cast<std::int32_t>(info.dwMajorVersion),
                            static_cast<std::int32_t>(info.dwMinorVersion),
                            static_cast<std::int32_t>(info.dwBuildNumber)};
    if (version.Major > 6 || (version.Major == 6 && version.Minor > 1)) {
        TStartupVersion corrected = version;
        if (ReadFileProductVersion(corrected) || ReadWorkstationVersion(corrected)) version = corrected;
    }
    StartupVersion = version;
    {
        const std::lock_guard<std::mutex> lock(PlatformVersionLock);
        PlatformVersionCopy.reset();
    }
    PlatformVersion();
}

const TPlatformVersion& PlatformVersion() {
    const std::lock_guard<std::mutex> lock(PlatformVersionLock);
    if (!PlatformVersionCopy) {
        auto copy = std::make_unique<TPlatformVersion>();
        copy->Major = StartupVersion.Major;
        copy->Minor = StartupVersion.Minor;
        copy->Build = StartupVersion.Build;
        OsVersionInfo info;
        info.dwOSVersionInfoSize = OsVersionInfoSize;
        if (Os().GetVersionExW(&info)) {
            copy->PlatformId = info.dwPlatformId;
            const std::u16string_view text(info.szCSDVersion, std::size(info.szCSDVersion));
            copy->ServicePack = text.substr(0, text.find(u'\0'));
        }
        PlatformVersionCopy = std::move(copy);
    }
    return *PlatformVersionCopy;
}

bool IsCompositionEnabled() {
    if (PlatformVersion().Major < 6) return false;
    std::int32_t enabled = 0;
    if (Os().DwmIsCompositionEnabled(&enabled) != S_OK) return false;
    return enabled != 0;
}

}  // namespace tessel
