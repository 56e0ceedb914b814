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

// logger.<level>(fmt, *args, **keywords).
template <class... Args>
void log_at(const ModuleNamespace& ns, const char* level, const char* fmt, Args&&... args) {
    ns.get(kLoggerName).attr(level)(fmt, std::forward<Args>(args)...);
}
template <class... Args>
void log_info(const ModuleNamespace& ns, const char* fmt, Args&&... args) {
    log_at(ns, "info", fmt, std::forward<Args>(args)...);
}
template <class... Args>
void log_warning(const ModuleNamespace& ns, const char* fmt, Args&&... args) {
    log_at(ns, "warning", fmt, std::forward<Args>(args)...);
}
template <class... Args>
void log_error(const ModuleNamespace& ns, const char* fmt, Args&&... args) {
    log_at(ns, "error", fmt, std::forward<Args>(args)...);
}

}  // namespace quillon::bind
