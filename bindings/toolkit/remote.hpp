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

#include <strings.h>

#include <cstdarg>
#include <initializer_list>
#include <string>
#include <utility>

#include "quillon/registry.hpp"
#include "toolkit/module_namespace.hpp"
#include "toolkit/strings.hpp"

namespace quillon::bind {

namespace nb = nanobind;

inline constexpr Name kRequestsName{"requests"};

// What the module calls for `requests.<method>(...)`: while its `requests`
// attribute is the real package, unpatched, the call of
// quillon.bounded_requests that bounds the whole exchange in time and the
// answer in size (decompressed); otherwise whatever stands in for it, called
// as the module's code would call it.
inline nb::object requests_method(const ModuleNamespace& ns, const char* method) {
    static constexpr Name kForModule{"for_module"};
    nb::object bounded = nb::module_::import_("quillon.bounded_requests");
    PyObject* call = PyObject_CallMethodObjArgs(bounded.ptr(), kForModule.get(), ns.get(kRequestsName).ptr(),
                                                nb::str(method).ptr(), nullptr);
    if (!call) throw nb::python_error();
    return nb::steal(call);
}

// obj.get(key, dflt).
inline nb::object field(nb::handle obj, const Name& key, nb::handle dflt) {
    if (PyDict_CheckExact(obj.ptr())) {
        PyObject* v = PyDict_GetItemWithError(obj.ptr(), key.get());
        if (v) return nb::borrow(v);
        if (PyErr_Occurred()) throw nb::python_error();
        return nb::borrow(dflt);
    }
    static constexpr Name kGet{"get"};
    PyObject* r = PyObject_CallMethodObjArgs(obj.ptr(), kGet.get(), key.get(), dflt.ptr(), nullptr);
    if (!r) throw nb::python_error();
    return nb::steal(r);
}

// record[key] = value, for a dict or any object with item assignment.
inline void put(nb::handle record, const Name& key, nb::handle value) {
    int rc = PyDict_Check(record.ptr()) ? PyDict_SetItem(record.ptr(), key.get(), value.ptr())
                                        : PyObject_SetItem(record.ptr(), key.get(), value.ptr());
    if (rc < 0) throw nb::python_error();
}

// Raises `type(message)` as a Python error (for the checks of decoded JSON).
[[noreturn]] inline void raise_error(PyObject* type, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    PyErr_FormatV(type, fmt, ap);
    va_end(ap);
    throw nb::python_error();
}

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

// Whether `error` belongs to the request-error family of the module's current
// `requests` attribute (requests.RequestException) or is a ValueError (a
// body that is not JSON, a number that does not parse).
inline bool is_request_or_value_error(const ModuleNamespace& ns, nb::handle error) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(error.ptr()));
    if (PyErr_GivenExceptionMatches(type, PyExc_ValueError)) return true;
    static constexpr Name kRequestException{"RequestException"};
    PyObject* family = PyObject_GetAttr(ns.get(kRequestsName).ptr(), kRequestException.get());
    if (!family) {
        PyErr_Clear();
        return false;
    }
    bool match = PyExceptionClass_Check(family) && PyErr_GivenExceptionMatches(type, family);
    Py_DECREF(family);
    return match;
}

// str(error): the error's text as a log argument.
inline nb::str error_text(nb::handle error) {
    PyObject* s = PyObject_Str(error.ptr());
    if (!s) throw nb::python_error();
    return nb::steal<nb::str>(s);
}

// obj.<name>, with an interned name.
inline nb::object attr_of(nb::handle obj, const Name& name) {
    PyObject* r = PyObject_GetAttr(obj.ptr(), name.get());
    if (!r) throw nb::python_error();
    return nb::steal(r);
}

// A tuple of interned keyword names for call_with_keywords, built once per
// call site and kept for the process (a plain tuple of str).
inline PyObject* keyword_names(std::initializer_list<const char*> names) {
    PyObject* t = PyTuple_New(static_cast<Py_ssize_t>(names.size()));
    if (!t) throw nb::python_error();
    Py_ssize_t i = 0;
    for (const char* n : names) {
        PyObject* s = PyUnicode_InternFromString(n);
        if (!s) throw nb::python_error();
        PyTuple_SET_ITEM(t, i++, s);
    }
    return t;
}

// fn(*positional, **dict(zip(kwnames, keyword_values))), without building a
// dict: requests.get(url, headers=..., timeout=...) on the hot path.
inline nb::object call_with_keywords(nb::handle fn, std::initializer_list<nb::handle> positional, PyObject* kwnames,
                                     std::initializer_list<nb::handle> keyword_values) {
    PyObject* argv[8];
    std::size_t n = 0;
    for (nb::handle h : positional) argv[n++] = h.ptr();
    for (nb::handle h : keyword_values) argv[n++] = h.ptr();
    PyObject* r = PyObject_Vectorcall(fn.ptr(), argv, positional.size(), kwnames);
    if (!r) throw nb::python_error();
    return nb::steal(r);
}

// A JSON body must be UTF-8.  requests decodes a body whose charset is UTF-8
// (or unstated) leniently, turning invalid bytes into U+FFFD, so a corrupted
// answer would pass for a good one.  This checks the body strictly first and
// raises the UnicodeDecodeError (a ValueError) that Python's decoder gives.
// A body that announces another charset, a body that looks like UTF-16 or
// UTF-32 (a NUL or a byte-order mark in its first bytes) and a response that
// holds no bytes (a test double) are left to requests.
inline void require_utf8_body(nb::handle response) {
    static constexpr Name kEncoding{"encoding"}, kContent{"content"};
    nb::object encoding = attr_of(response, kEncoding);
    if (!encoding.is_none()) {
        if (!PyUnicode_Check(encoding.ptr())) return;
        const char* label = PyUnicode_AsUTF8(encoding.ptr());
        if (!label) throw nb::python_error();
        if (strcasecmp(label, "utf-8") != 0 && strcasecmp(label, "utf8") != 0 && strcasecmp(label, "utf_8") != 0)
            return;
    }
    nb::object content = attr_of(response, kContent);
    if (!PyBytes_Check(content.ptr())) return;
    const char* data = PyBytes_AS_STRING(content.ptr());
    Py_ssize_t n = PyBytes_GET_SIZE(content.ptr());
    if (encoding.is_none()) {
        if (n >= 2 && ((data[0] == '\xff' && data[1] == '\xfe') || (data[0] == '\xfe' && data[1] == '\xff'))) return;
        for (Py_ssize_t i = 0; i < n && i < 4; ++i)
            if (data[i] == '\0') return;
    }
    if (registry::is_valid_utf8(reinterpret_cast<const unsigned char*>(data), static_cast<std::size_t>(n))) return;
    // Invalid: let Python's decoder say where and why.
    PyObject* text = PyUnicode_DecodeUTF8(data, n, "strict");
    if (!text) throw nb::python_error();
    Py_DECREF(text);
    raise_error(PyExc_ValueError, "body is not valid UTF-8");
}

// The URL template with "{cnpj}" replaced by the clean CNPJ in wire form:
// its digits as ASCII digits, whatever script they were typed in (services
// know only those).  A template that is no str is asked to replace as any
// object would be, and fails as it would.
inline nb::object fill_url(nb::handle url_template, nb::handle clean) {
    static constexpr Name kReplace{"replace"}, kPlaceholder{"{cnpj}"};
    nb::object wire = nb::borrow(clean);
    if (PyUnicode_Check(clean.ptr())) {
        wire = with_code_units(clean.ptr(), [&](const auto* data, std::size_t n) -> nb::object {
            if (registry::is_ascii(data, n)) return nb::borrow(clean);
            std::u32string out;
            out.reserve(n);
            for (std::size_t i = 0; i < n; ++i) out.push_back(registry::wire_char(static_cast<char32_t>(data[i])));
            return make_str(out);
        });
    }
    PyObject* url =
        PyObject_CallMethodObjArgs(url_template.ptr(), kReplace.get(), kPlaceholder.get(), wire.ptr(), nullptr);
    if (!url) throw nb::python_error();
    return nb::steal(url);
}

}  // namespace quillon::bind
