#pragma once
// The outermost handler of the run and the end of the process.

namespace tessel {

/// Runs the start-up steps and then `mainBlock`; a failure that leaves it
/// is reported once, after every cleanup of the run has happened. Answers
/// the exit code: 0 after a normal run, 1 after a failure.
int RunUnderTopLevelHandler(void (*mainBlock)());

}  // namespace tessel
