#pragma once
// The report of a failure that ended the run, and the message box that
// shows it.
#include <cstddef>
#include <string>

#include "runtime/exception.h"

namespace tessel {

/// At most this many characters of a report are shown.
constexpr std::size_t ReportCapacity = 1024;

/// The two-line report for `error` raised at `address`, cut to `capacity`
/// characters: the class, the module and the address relative to it on the
/// first line, the message with a closing full stop on the second.
std::u16string BuildExceptionReport(const Exception& error, const void* address, std::size_t capacity);

/// Shows the report in a task-modal message box with the stop icon.
void ShowExceptionReport(const Exception& error, const void* address);

}  // namespace tessel
