#pragma once
// The report of a failure that ended the run, and the message box that
// shows it.
#include <cstddef>
#include <string>

#include "platform/platform.h"
#include "runtime/exception.h"

namespace tessel {

/// At most this many characters of a report are shown.
constexpr std::size_t ReportCapacity = 1024;

/// The file name of `module` without its directory, cut to 260 characters;
/// module 0 names the program's own executable. Empty when the platform
/// names no module at that base.
std::u16string ModuleFileName(ModuleHandle module);

/// The two-line report for `error` raised at `address`, cut to `capacity`
/// characters: the class, the module and the address relative to it on the
/// first line, the message with a closing full stop on the second. An
/// address in no module is shown for the executable, less 0x1000.
std::u16string BuildExceptionReport(const Exception& error, const void* address, std::size_t capacity);

/// Shows the report in a task-modal message box with the stop icon and
/// returns once the user has closed it.
void ShowExceptionReport(const Exception& error, const void* address);

}  // namespace tessel
