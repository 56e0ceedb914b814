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

template <class... Args>
void log_info(const ModuleNamespace& ns, const char* fmt, Args&&... args) {
    nb::borrow<nb::object>(ns.get(kLoggerName)).attr("info")(fmt, std::forward<Args>(args)...);
}

template <class... Args>
void log_warning(const ModuleNamespace& ns, const char* fmt, Args&&... args) {
    nb::borrow<nb::object>(ns.get(kLoggerName)).attr("warning")(fmt, std::forward<Args>(args)...);
}

template <class... Args>
void log_error(const ModuleNamespace& ns, const char* fmt, Args&&... args) {
    nb::borrow<nb::object>(ns.get(kLoggerName)).attr("error")(fmt, std::forward<Args>(args)...);
}

// logger.error(fmt, *args, exc_info=error): the record carries the error's
// description and stack trace, as logger.exception() would in an except block.
template <class... Args>
void log_exception(const ModuleNamespace& ns, nb::handle error, const char* fmt, Args&&... args) {
    nb::borrow<nb::object>(ns.get(kLoggerName))
        .attr("error")(fmt, std::forward<Args>(args)..., nb::arg("exc_info") = error);
}

}  // namespace quillon::bind
