#include "toolkit/logging.hpp"

namespace quillon::bind {

void bind_logger(ModuleNamespace& ns) {
    nb::module_ logging = nb::module_::import_("logging");
    ns.set("logger", logging.attr("getLogger")(ns.dotted_name()));
}

}  // namespace quillon::bind
