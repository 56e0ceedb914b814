// The binding toolkit every extension module includes: module attributes and
// call-time look-ups, argument checks, logging, Python strings.
#pragma once

#include "toolkit/args.hpp"
#include "toolkit/logging.hpp"
#include "toolkit/module_namespace.hpp"
#include "toolkit/strings.hpp"
