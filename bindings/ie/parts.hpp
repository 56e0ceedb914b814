// What the files of the ie module share: its namespace and the registration
// function of each part.
#pragma once

#include <nanobind/nanobind.h>

#include "toolkit/toolkit.hpp"

namespace nb = nanobind;
using namespace quillon::bind;

// The module's attributes (load-time names, constants, logger).
extern ModuleNamespace ie_ns;

void register_registrations(nb::module_& m);
