// What the files of the cnpj module share: its namespace and the
// registration function of each part.
#pragma once

#include <nanobind/nanobind.h>

#include "toolkit/toolkit.hpp"

namespace nb = nanobind;
using namespace quillon::bind;

// The module's attributes (load-time names, constants, logger).
extern ModuleNamespace cnpj_ns;

// formatar_cnpj(clean) through the module attribute, straight into the core
// while nobody replaced it.
nb::object format_cnpj(nb::handle clean);

void register_identifier(nb::module_& m);
void register_company_record(nb::module_& m);
void register_lookup(nb::module_& m);
void register_search(nb::module_& m);
void register_address(nb::module_& m);
