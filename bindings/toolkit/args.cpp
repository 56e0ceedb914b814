#include "toolkit/args.hpp"

#include <climits>
#include <cstdarg>

namespace quillon::bind {

namespace {

// module.name, imported on first use and kept for the life of the process (a
// cached type object: nothing to release, and no destructor running after
// Python).
PyObject* cached_type(const char* module, const char* name) {
    return owned(PyObject_GetAttrString(owned(PyImport_ImportModule(module)).ptr(), name)).release().ptr();
}

bool is_real_number(nb::handle h) {
    PyObject* o = h.ptr();
    if (PyLong_Check(o) || PyFloat_Check(o)) return true;
    static PyObject* real = cached_type("numbers", "Real");
    if (checked(PyObject_IsInstance(o, real))) return true;
    // Only look at Decimal when the decimal module is already loaded: an
    // object of that type cannot exist otherwise.
    if (!PyDict_GetItemString(PyImport_GetModuleDict(), "decimal")) return false;
    // decimal.Decimal is a real number to people, though not a numbers.Real.
    static PyObject* decimal = cached_type("decimal", "Decimal");
    return checked(PyObject_IsInstance(o, decimal)) == 1;
}

}  // namespace

void raise_error(PyObject* type, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    PyErr_FormatV(type, fmt, ap);
    va_end(ap);
    throw nb::python_error();
}

void raise_wrong_type(const char* fn, const char* param, const char* expected, nb::handle got) {
    raise_error(PyExc_TypeError, "%s() argument '%s' must be %s, not %.200s", fn, param, expected,
                Py_TYPE(got.ptr())->tp_name);
}

nb::int_ integer_arg(nb::handle h, const char* fn, const char* param) {
    PyObject* o = h.ptr();
    if (PyLong_CheckExact(o)) return nb::borrow<nb::int_>(o);
    if (!is_real_number(h)) raise_wrong_type(fn, param, "a real number", h);
    // int() truncates floats, Fractions and Decimals toward zero; bool -> 0/1.
    return nb::borrow<nb::int_>(owned(PyNumber_Long(o)));
}

long long integer_arg_ll(nb::handle h, const char* fn, const char* param) {
    return checked(PyLong_AsLongLong(integer_arg(h, fn, param).ptr()));
}

long long integer_arg_saturated(nb::handle h, const char* fn, const char* param) {
    int overflow = 0;
    long long r = checked(PyLong_AsLongLongAndOverflow(integer_arg(h, fn, param).ptr(), &overflow));
    return overflow > 0 ? LLONG_MAX : overflow < 0 ? LLONG_MIN : r;
}

double real_arg(nb::handle h, const char* fn, const char* param) {
    if (!is_real_number(h)) raise_wrong_type(fn, param, "a real number", h);
    return checked(PyFloat_AsDouble(h.ptr()));
}

nb::tuple items_of(nb::handle list) {
    return nb::borrow<nb::tuple>(owned(PySequence_Tuple(list.ptr())));
}

nb::list list_arg(nb::handle h, const char* fn, const char* param) {
    if (!PyList_Check(h.ptr())) raise_wrong_type(fn, param, "list", h);
    return nb::borrow<nb::list>(h);
}

nb::dict dict_arg(nb::handle h, const char* fn, const char* param) {
    if (!PyDict_Check(h.ptr())) raise_wrong_type(fn, param, "dict", h);
    return nb::borrow<nb::dict>(h);
}

bool truth(nb::handle h) {
    return checked(PyObject_IsTrue(h.ptr())) == 1;
}

}  // namespace quillon::bind
