// Logs written before the DEVICE lines were logged: where the device appeared, and as what,
// told from the reports alone.
#pragma once

#include <string>
#include <vector>

#include "protocol/report_log.h"

namespace torvane {

// Splits reports into session's devices: a new appearance wherever a report's length differs
// from the last one's in the same direction. An appearance that sends the boot loader's commands
// is the boot loader; the others are the application of the model whose identity bytes the log's
// first version reply gives. False and "line N: why" in error when those bytes name no model.
bool SplitOldLog(std::vector<LoggedReport> reports, LoggedSession& session, std::string& error);

}  // namespace torvane
