// The registered scan phases, in the order a scan runs them.
#pragma once

#include <memory>
#include <vector>

#include "scan/scan_types.h"

// A new memory scan phase, then a new file scan phase.
std::vector<std::unique_ptr<CScanner>> CreateScanPhases();
