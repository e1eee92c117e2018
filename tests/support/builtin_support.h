// Fresh built-in removers for tests that build a controller of their own.
#pragma once

#include <memory>
#include <vector>

#include "removers/remover.h"

// New instances of the built-in removers, in the order of g_builtinRemovers.
std::vector<std::unique_ptr<CMalwareRemover>> CreateBuiltinRemovers();
