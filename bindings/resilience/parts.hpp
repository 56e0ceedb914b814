// What the files of the resilience module share: its namespace and the
// registration function of each part.
#pragma once

#include <nanobind/nanobind.h>

#include "toolkit/toolkit.hpp"

namespace nb = nanobind;
using namespace quillon::bind;

// The module's attributes (load-time names, constants, logger).
extern ModuleNamespace resilience_ns;

void register_circuit_breaker(nb::module_& m);
void register_retry(nb::module_& m);
