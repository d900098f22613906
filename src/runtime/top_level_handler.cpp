#include "runtime/top_level_handler.h"

#include "runtime/error_report.h"
#include "runtime/exception.h"
#include "runtime/version.h"

namespace tessel {

int RunUnderTopLevelHandler(void (*mainBlock)()) {
    try {
        CaptureVersionFacts();
        mainBlock();
        return 0;
    } catch (const Exception& error) {
        // Unwinding to here has already run every cleanup of the run,
        // the release of the rule list last.
        ShowExceptionReport(error, error.RaiseAddress());
        return 1;
    }
}

}  // namespace tessel
