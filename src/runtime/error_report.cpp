#include "runtime/error_report.h"

#include <cstdint>

#include "runtime/string_table.h"
#include "runtime/text_format.h"

namespace tessel {

namespace {

constexpr std::uint32_t ModulePathCapacity = 261;
constexpr std::size_t ModuleNameLimit = 260;
constexpr int TemplateCapacity = 256;
constexpr int CaptionCapacity = 64;
constexpr std::uint32_t ReportStyle = 0x2010;  // MB_OK | MB_ICONSTOP | MB_TASKMODAL
// Code of an executable starts a page into its image.
constexpr std::uintptr_t ExecutableCodeOffset = 0x1000;

}  // namespace

std::u16string ModuleFileName(ModuleHandle module) {
    char16_t buffer[ModulePathCapacity] = {};
    const std::uint32_t length = Os().GetModuleFileNameW(module, buffer, ModulePathCapacity);
    const std::u16string_view path(buffer, length < ModulePathCapacity ? length : ModulePathCapacity - 1);
    std::u16string name(path.substr(path.find_last_of(u'\\') + 1));
    if (name.size() > ModuleNameLimit) name.resize(ModuleNameLimit);
    return name;
}

std::u16string BuildExceptionReport(const Exception& error, const void* address, std::size_t capacity) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    MemoryBasicInformation region;
    std::u16string module;
    std::uintptr_t shown = 0;
    if (Os().VirtualQuery(address, &region) != 0 && region.State == MEM_COMMIT)
        module = ModuleFileName(region.AllocationBase);
    if (!module.empty()) {
        shown = at - region.AllocationBase;
    } else {
        module = ModuleFileName(0);
        shown = at == 0 ? 0 : at - ExecutableCodeOffset;
    }

    const std::u16string& message = error.Message();
    const std::u16string end = !message.empty() && message.back() != u'.' ? u"." : u"";
    std::u16string report = FormatText(LoadResString(SExceptionReport, TemplateCapacity),
                                       {error.ClassName(), module, reinterpret_cast<const void*>(shown), message, end});
    if (report.size() > capacity) report.resize(capacity);
    return report;
}

void ShowExceptionReport(const Exception& error, const void* address) {
    const std::u16string report = BuildExceptionReport(error, address, ReportCapacity);
    const std::u16string caption = LoadResString(SExceptionCaption, CaptionCapacity);
    Os().MessageBoxW(0, report.c_str(), caption.c_str(), ReportStyle);
}

}  // namespace tessel
