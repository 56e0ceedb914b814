// Calling a web service through the module's `requests` attribute and reading
// the JSON it decoded, the way a Python module of the host would.
//
// A record is built from the decoded objects with the look-ups Python code
// would make: `data.get(key, default)` on a dict (read in place), and a call
// of the object's own `get` otherwise, so a list or a None where an object was
// expected fails with the AttributeError Python code would meet.
#pragma once

#include <Python.h>
#include <nanobind/nanobind.h>

#include <string>
#include <string_view>
#include <utility>

#include "quillon/company_services.hpp"
#include "toolkit/args.hpp"
#include "toolkit/logging.hpp"
#include "toolkit/module_namespace.hpp"
#include "toolkit/strings.hpp"

namespace quillon::bind {

namespace nb = nanobind;

inline constexpr Name kRequestsName{"requests"};

// requests.<method>(url, **options) through the module's `requests`: while it
// is the real package, unpatched, the call of quillon.bounded_requests that
// bounds the whole exchange in time and the answer in size (decompressed);
// otherwise whatever stands in for it, called as the module's code would.
inline nb::object send(const ModuleNamespace& ns, const char* method, nb::handle url, nb::dict options) {
    nb::object bounded = nb::module_::import_("quillon.bounded_requests");
    return bounded.attr("for_module")(ns.get(kRequestsName), method)(url, **options);
}

// obj.get(key, dflt).
inline nb::object field(nb::handle obj, PyObject* key, nb::handle dflt) {
    if (PyDict_CheckExact(obj.ptr())) {
        PyObject* v = PyDict_GetItemWithError(obj.ptr(), key);
        if (!v && PyErr_Occurred()) throw nb::python_error();
        return nb::borrow(v ? v : dflt.ptr());
    }
    static constexpr Name kGet{"get"};
    return owned(PyObject_CallMethodObjArgs(obj.ptr(), kGet.get(), key, dflt.ptr(), nullptr));
}
inline nb::object field(nb::handle obj, const Name& key, nb::handle dflt) { return field(obj, key.get(), dflt); }
inline nb::object field(nb::handle obj, const char* key, nb::handle dflt) {
    return field(obj, nb::str(key).ptr(), dflt);
}

// record[key] = value, for a dict or any object with item assignment.
inline void put(nb::handle record, PyObject* key, nb::handle value) {
    checked(PyObject_SetItem(record.ptr(), key, value.ptr()));
}
inline void put(nb::handle record, const Name& key, nb::handle value) { put(record, key.get(), value); }

// Runs body().  An error of the Exception family that it raises is caught and
// handed back (the exception object, its traceback attached); without an
// error the result is an invalid object.  KeyboardInterrupt, SystemExit and
// the like propagate, as they pass through `except Exception`.
template <class F>
nb::object catch_exception(F&& body) {
    try {
        std::forward<F>(body)();
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_Exception)) throw;
        return nb::borrow(e.value());
    }
    return {};
}

// body() under `except Exception`, the way the lookups of the registry
// services fail: None, an error of the request-error family of the module's
// current `requests` (requests.RequestException) or a ValueError (a body that
// is not JSON, a number that does not parse) logged as a warning
// (`failed` % (subject, str(error))), anything else at error level with its
// stack trace (`unexpected` % subject).
template <class F>
nb::object logged_failure(const ModuleNamespace& ns, const std::string& failed, const std::string& unexpected,
                          nb::handle subject, F&& body) {
    nb::object result;
    nb::object error = catch_exception([&] { result = body(); });
    if (!error.is_valid()) return result;
    nb::object family = nb::getattr(ns.get(kRequestsName), "RequestException", nb::none());
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(error.ptr()));
    bool expected = PyErr_GivenExceptionMatches(type, PyExc_ValueError) ||
                    (PyExceptionClass_Check(family.ptr()) && PyErr_GivenExceptionMatches(type, family.ptr()));
    if (expected)
        log_warning(ns, failed.c_str(), subject, nb::str(error));
    else  // with its description and stack trace, as logger.exception() would
        log_error(ns, unexpected.c_str(), subject, nb::arg("exc_info") = error);
    return nb::none();
}

// response.json(), the body first decoded strictly when requests would decode
// it leniently (quillon/company_services.hpp): Python's strict decoder raises
// its UnicodeDecodeError (a ValueError) on a corrupted answer.  A response
// that holds no bytes (a test double) is left to requests.
inline nb::object decode_json(nb::handle response) {
    nb::object encoding = response.attr("encoding");
    bool stated = !encoding.is_none();
    const char* label = stated && PyUnicode_Check(encoding.ptr()) ? PyUnicode_AsUTF8(encoding.ptr()) : "";
    if (!label) throw nb::python_error();
    nb::object content = company_services::decoded_leniently(stated, label) ? response.attr("content") : nb::none();
    if (PyBytes_Check(content.ptr())) {
        auto size = static_cast<std::size_t>(PyBytes_GET_SIZE(content.ptr()));
        std::string_view body(PyBytes_AS_STRING(content.ptr()), size);
        if (company_services::checked_as_utf8(stated, body))
            owned(PyUnicode_DecodeUTF8(body.data(), static_cast<Py_ssize_t>(body.size()), "strict"));
    }
    return response.attr("json")();
}

// A clean CNPJ in wire form: its digits as ASCII digits, whatever script
// they were typed in (services know only those).
inline nb::object wire_form(nb::handle clean) {
    return with_code_units(clean.ptr(), [&](const auto* data, std::size_t n) -> nb::object {
        if (company_services::is_ascii(data, n)) return nb::borrow(clean);
        return make_str(company_services::wire_form(data, n));
    });
}

}  // namespace quillon::bind
