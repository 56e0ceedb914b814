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
#include <string>
#include <utility>

#include "quillon/company_services.hpp"
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
inline nb::object field(nb::handle obj, PyObject* key, nb::handle dflt) {
    if (PyDict_CheckExact(obj.ptr())) {
        PyObject* v = PyDict_GetItemWithError(obj.ptr(), key);
        if (v) return nb::borrow(v);
        if (PyErr_Occurred()) throw nb::python_error();
        return nb::borrow(dflt);
    }
    static constexpr Name kGet{"get"};
    PyObject* r = PyObject_CallMethodObjArgs(obj.ptr(), kGet.get(), key, dflt.ptr(), nullptr);
    if (!r) throw nb::python_error();
    return nb::steal(r);
}
inline nb::object field(nb::handle obj, const Name& key, nb::handle dflt) { return field(obj, key.get(), dflt); }

// record[key] = value, for a dict or any object with item assignment.
inline void put(nb::handle record, PyObject* key, nb::handle value) {
    int rc = PyDict_Check(record.ptr()) ? PyDict_SetItem(record.ptr(), key, value.ptr())
                                        : PyObject_SetItem(record.ptr(), key, value.ptr());
    if (rc < 0) throw nb::python_error();
}
inline void put(nb::handle record, const Name& key, nb::handle value) { put(record, key.get(), value); }

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

// One request through the module's `requests`: requests.<method>(url, **options).
inline nb::object send(const ModuleNamespace& ns, const char* method, nb::handle url, nb::handle options) {
    nb::object call = requests_method(ns, method);
    PyObject* args = PyTuple_Pack(1, url.ptr());
    if (!args) throw nb::python_error();
    PyObject* response = PyObject_Call(call.ptr(), args, options.ptr());
    Py_DECREF(args);
    if (!response) throw nb::python_error();
    return nb::steal(response);
}

// response.json(), the body first decoded strictly.  A JSON body must be
// UTF-8, but requests decodes a body whose charset is UTF-8 (or unstated)
// leniently, turning invalid bytes into U+FFFD, so a corrupted answer would
// pass for a good one: Python's strict decoder raises its UnicodeDecodeError
// (a ValueError) instead.  A body that announces another charset, a body that
// looks like UTF-16 or UTF-32 (a NUL or a byte-order mark in its first bytes)
// and a response that holds no bytes (a test double) are left to requests.
inline nb::object decode_json(nb::handle response) {
    static constexpr Name kEncoding{"encoding"}, kContent{"content"}, kJson{"json"};
    nb::object encoding = attr_of(response, kEncoding);
    bool stated = !encoding.is_none(), utf8 = !stated;
    if (stated && PyUnicode_Check(encoding.ptr())) {
        const char* label = PyUnicode_AsUTF8(encoding.ptr());
        if (!label) throw nb::python_error();
        utf8 = !strcasecmp(label, "utf-8") || !strcasecmp(label, "utf8") || !strcasecmp(label, "utf_8");
    }
    nb::object content = utf8 ? attr_of(response, kContent) : nb::none();
    if (PyBytes_Check(content.ptr())) {
        const char* data = PyBytes_AS_STRING(content.ptr());
        Py_ssize_t n = PyBytes_GET_SIZE(content.ptr());
        bool wide = !stated && n >= 2 && (data[0] == '\xff' || data[0] == '\xfe') && (data[1] == '\xfe' || data[1] == '\xff') && data[0] != data[1];
        for (Py_ssize_t i = 0; !stated && i < n && i < 4; ++i) wide |= data[i] == '\0';
        if (!wide) {
            PyObject* text = PyUnicode_DecodeUTF8(data, n, "strict");
            if (!text) throw nb::python_error();
            Py_DECREF(text);
        }
    }
    return attr_of(response, kJson)();
}

// A clean CNPJ in wire form: its digits as ASCII digits, whatever script
// they were typed in (services know only those).
inline nb::object wire_form(nb::handle clean) {
    return with_code_units(clean.ptr(), [&](const auto* data, std::size_t n) -> nb::object {
        if (company_services::is_ascii(data, n)) return nb::borrow(clean);
        std::u32string out;
        out.reserve(n);
        for (std::size_t i = 0; i < n; ++i) out.push_back(company_services::wire_char(static_cast<char32_t>(data[i])));
        return make_str(out);
    });
}

// The URL template with "{cnpj}" replaced by the clean CNPJ in wire form.  A
// template that is no str is asked to replace as any object would be, and
// fails as it would.
inline nb::object fill_url(nb::handle url_template, nb::handle clean) {
    static constexpr Name kReplace{"replace"}, kPlaceholder{"{cnpj}"};
    nb::object wire = PyUnicode_Check(clean.ptr()) ? wire_form(clean) : nb::borrow(clean);
    PyObject* url =
        PyObject_CallMethodObjArgs(url_template.ptr(), kReplace.get(), kPlaceholder.get(), wire.ptr(), nullptr);
    if (!url) throw nb::python_error();
    return nb::steal(url);
}

}  // namespace quillon::bind
