// Logging through the module's `logger` attribute (a logging.Logger named
// after the module's dotted path), handing it the %-format and its arguments
// separately, so records keep `msg` and `args` apart as Python code would.
#pragma once

#include <nanobind/nanobind.h>

#include <utility>

#include "toolkit/module_namespace.hpp"

namespace quillon::bind {

namespace nb = nanobind;

inline constexpr Name kLoggerName{"logger"};

// Binds `logger = logging.getLogger(<dotted module name>)` on the module.
void bind_logger(ModuleNamespace& ns);

// log_warning(ns, fmt, *args, **keywords): logger.warning(fmt, *args, **keywords).
struct LogAt {
    const char* level;
    template <class... Args>
    void operator()(const ModuleNamespace& ns, const char* fmt, Args&&... args) const {
        ns.get(kLoggerName).attr(level)(fmt, std::forward<Args>(args)...);
    }
};
inline constexpr LogAt log_info{"info"}, log_warning{"warning"}, log_error{"error"};

}  // namespace quillon::bind
