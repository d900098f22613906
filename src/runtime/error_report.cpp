#include "runtime/error_report.h"

#include <cstdint>

#include "platform/platform.h"
#include "runtime/string_table.h"
#include "runtime/text_format.h"

namespace tessel {

namespace {

constexpr std::uint32_t ModulePathCapacity = 261;
constexpr std::size_t ModuleNameLimit = 260;
constexpr std::uint32_t ReportStyle = 0x2010;  // MB_OK | MB_ICONSTOP | MB_TASKMODAL

std::u16string ModulePath(ModuleHandle module) {
    char16_t buffer[ModulePathCapacity] = {};
    const std::uint32_t length = Os().GetModuleFileNameW(module, buffer, ModulePathCapacity);
    return {buffer, length < ModulePathCapacity ? length : ModulePathCapacity - 1};
}

}  // namespace

std::u16string BuildExceptionReport(const Exception& error, const void* address, std::size_t capacity) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    MemoryBasicInformation region;
    std::u16string path;
    std::uintptr_t shown = 0;
    if (Os().VirtualQuery(address, &region) != 0 && region.State == MEM_COMMIT)
        path = ModulePath(region.AllocationBase);
    if (!path.empty()) {
        shown = at - region.AllocationBase;
    } else {
        // Outside any module: the executable, whose code starts a page in.
        path = ModulePath(0);
        shown = at == 0 ? 0 : at - 0x1000;
    }
    std::u16string module = path.substr(path.find_last_of(u'\\') + 1);
    if (module.size() > ModuleNameLimit) module.resize(ModuleNameLimit);

    const std::u16string& message = error.Message();
    const std::u16string end = !message.empty() && message.back() != u'.' ? u"." : u"";
    std::u16string report = FormatText(LoadResString(SExceptionReport, 256),
                                       {error.ClassName(), module, reinterpret_cast<const void*>(shown), message, end});
    if (report.size() > capacity) report.resize(capacity);
    return report;
}

void ShowExceptionReport(const Exception& error, const void* address) {
    const std::u16string report = BuildExceptionReport(error, address, ReportCapacity);
    const std::u16string caption = LoadResString(SExceptionCaption, 64);
    Os().MessageBoxW(0, report.c_str(), caption.c_str(), ReportStyle);
}

}  // namespace tessel
