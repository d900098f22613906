#include "main/window_list.h"

#include <vector>

#include "main/tessel.h"
#include "rules/string_list.h"
#include "runtime/text_format.h"

namespace tessel {

TWindowList* WindowList = nullptr;

namespace {

// One text per decision, in the order of TDecision.
constexpr const char16_t* DecisionTexts[] = {
    u"exempt by rule %d: %s", u"hidden",     u"minimised", u"maximised",      u"cloaked",
    u"no monitor",            u"no frame",   u"full screen", u"inside",       u"docked bar",
    u"not responding",        u"would move to %s",
};
static_assert(std::size(DecisionTexts) == static_cast<std::size_t>(TDecision::dcMove) + 1);

std::u16string ShowRect(const std::optional<Rect>& r) {
    if (!r) return u"-";
    return FormatText(u"%d,%d,%d,%d", {r->Left, r->Top, r->Right, r->Bottom});
}

std::u16string DecisionText(const TPlacement& placement) {
    const char16_t* text = DecisionTexts[static_cast<std::size_t>(placement.Decision)];
    switch (placement.Decision) {
    case TDecision::dcExempt:
        return FormatText(text, {*placement.Rule + 1, EscapeListField(ExclusionRules->Strings(*placement.Rule))});
    case TDecision::dcMove: return FormatText(text, {ShowRect(placement.Target)});
    default: return text;
    }
}

}  // namespace

std::u16string EscapeListField(std::u16string_view text) {
    std::u16string out;
    for (const char16_t c : text) {
        if (c == u'\t') {
            out += u"\\t";
        } else if (c == u'\n') {
            out += u"\\n";
        } else if (c == u'\r') {
            out += u"\\r";
        } else if (c == u'\\') {
            out += u"\\\\";
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            static constexpr char16_t Hex[] = u"0123456789ABCDEF";
            out += {u'\\', u'x', Hex[c >> 4], Hex[c & 0xF]};
        } else {
            out += c;
        }
    }
    return out;
}

TWindowList::TWindowList() {
    const FileHandle output = Os().GetStdHandle(STD_OUTPUT_HANDLE);
    const std::uint32_t type = output == 0 || output == InvalidHandleValue ? 0 : Os().GetFileType(output);
    // A device that is not a console (NUL, a serial port) takes bytes as a
    // file does.
    std::uint32_t mode = 0;
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE ||
        (type == FILE_TYPE_CHAR && !Os().GetConsoleMode(output, &mode))) {
        FOutput = output;
    } else if (Os().AttachConsole(ATTACH_PARENT_PROCESS)) {
        const FileHandle console = Os().CreateFileW(u"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
        if (console != InvalidHandleValue) {
            FOutput = console;
            FConsole = true;
        }
    }
    WriteLine(u"handle\tprocess\tclass\ttitle\tframe\twork area\tdecision");
}

TWindowList::~TWindowList() {
    if (FConsole) Os().CloseHandle(FOutput);
}

void TWindowList::Write(TWindowTexts& texts, const TPlacement& placement) {
    if (FOutput == 0) return;
    std::uint32_t processId = 0;
    Os().GetWindowThreadProcessId(texts.Window(), &processId);
    WriteLine(FormatText(u"%p\t%d\t%s\t%s\t%s\t%s\t%s",
                         {static_cast<std::int64_t>(texts.Window()), static_cast<std::int64_t>(processId),
                          EscapeListField(texts.ClassName()), EscapeListField(texts.Caption()),
                          ShowRect(placement.Frame), ShowRect(placement.Work), DecisionText(placement)}));
}

void TWindowList::WriteLine(const std::u16string& text) {
    if (FOutput == 0) return;
    const std::u16string line = text + u"\r\n";
    const int count = static_cast<int>(line.size());
    std::uint32_t written = 0;
    if (FConsole) {
        if (!Os().WriteConsoleW(FOutput, line.data(), static_cast<std::uint32_t>(count), &written)) FOutput = 0;
        return;
    }
    std::vector<char> bytes(static_cast<std::size_t>(Os().WideCharToMultiByte(CP_UTF8, line.data(), count, nullptr, 0)));
    Os().WideCharToMultiByte(CP_UTF8, line.data(), count, bytes.data(), static_cast<int>(bytes.size()));
    for (std::size_t done = 0; done < bytes.size(); done += written) {
        if (!Os().WriteFile(FOutput, bytes.data() + done, static_cast<std::uint32_t>(bytes.size() - done), &written) ||
            written == 0) {
            FOutput = 0;
            return;
        }
    }
}

}  // namespace tessel
