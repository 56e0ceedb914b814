// Argument checks shared by every extension module.
//
// Parameters are bound as plain objects and checked here, so that a value of
// the wrong kind gives the TypeError a Python function would give, naming the
// function and the parameter:
//     validar_cnpj() argument 'cnpj' must be str or None, not int
// Arity and keyword errors (missing, surplus, repeated, unknown) are
// nanobind's, which name the function.
#pragma once

#include <Python.h>
#include <nanobind/nanobind.h>

namespace quillon::bind {

namespace nb = nanobind;

// Raises `type(fmt % args)` (PyErr_Format's format) as a Python error.
[[noreturn]] void raise_error(PyObject* type, const char* fmt, ...);

// A new reference returned by the C API as an object, or the error it raised.
inline nb::object owned(PyObject* result) {
    if (!result) throw nb::python_error();
    return nb::steal(result);
}
// A C API result, or the error it raised (-1 with an error set).
template <class T>
T checked(T result) {
    if (result == T(-1) && PyErr_Occurred()) throw nb::python_error();
    return result;
}

// d[key] for a dict d, borrowed, or nullptr when the key is absent; an error
// of the key's __hash__ or __eq__ propagates.
inline PyObject* dict_item(nb::handle d, PyObject* key) {
    PyObject* v = PyDict_GetItemWithError(d.ptr(), key);
    if (!v && PyErr_Occurred()) throw nb::python_error();
    return v;
}

// Raises TypeError("<fn>() argument '<param>' must be <expected>, not <type>").
[[noreturn]] void raise_wrong_type(const char* fn, const char* param, const char* expected, nb::handle got);

// A str (subclasses included).
inline PyObject* text_arg(nb::handle h, const char* fn, const char* param) {
    if (!PyUnicode_Check(h.ptr())) raise_wrong_type(fn, param, "str", h);
    return h.ptr();
}

// A str, or None given back as nullptr.
inline PyObject* text_or_none_arg(nb::handle h, const char* fn, const char* param) {
    if (h.is_none()) return nullptr;
    if (!PyUnicode_Check(h.ptr())) raise_wrong_type(fn, param, "str or None", h);
    return h.ptr();
}

// Any real number (bool, int, float, Fraction, Decimal...), truncated toward
// zero to a Python int of any size.  str, complex and others are TypeErrors.
nb::int_ integer_arg(nb::handle h, const char* fn, const char* param);

// The same, as a C++ integer; an int beyond 64 bits is an OverflowError.
long long integer_arg_ll(nb::handle h, const char* fn, const char* param);
// The same, held at the nearest end of the 64-bit range beyond it: for a count
// or a time that any value past that range compares like.
long long integer_arg_saturated(nb::handle h, const char* fn, const char* param);

// Any real number as a float.
double real_arg(nb::handle h, const char* fn, const char* param);

// A list or dict (subclasses included).
nb::list list_arg(nb::handle h, const char* fn, const char* param);
// The items of a list as they are now, held: a loop whose body runs Python code
// (which may clear or grow the list, freeing its items or moving its storage)
// iterates this rather than the list itself.
nb::tuple items_of(nb::handle list);
nb::dict dict_arg(nb::handle h, const char* fn, const char* param);

// Python truth value; errors of __bool__ propagate.
bool truth(nb::handle h);

}  // namespace quillon::bind

namespace quillon::bind {

// A named parameter that nanobind hands over whatever it is (None included);
// the function checks it with the helpers above and raises the precise error.
inline auto param(const char* name) { return nb::arg(name).none(); }

}  // namespace quillon::bind
