// Printing, progress lines and small conversions shared by the checker files.
#include "checker/parts.hpp"

namespace {

nb::object builtin_print() {
    static PyObject* builtins = PyImport_ImportModule("builtins");  // kept for the process
    if (!builtins) throw nb::python_error();
    // Read at each call: a host that replaces builtins.print sees every line.
    return nb::borrow(builtins).attr("print");
}

}  // namespace

void log_line(nb::handle self, nb::handle message, const char* emoji) {
    self.attr("_log")(message, emoji);
}

void log_line(nb::handle self, const char* message, const char* emoji) {
    self.attr("_log")(message, emoji);
}

void print_line(nb::handle text) { builtin_print()(text); }

void print_line(const char* text) { builtin_print()(text); }

void print_partial(nb::handle text) { builtin_print()(text, nb::arg("end") = ""); }

nb::str to_str(nb::handle value) {
    if (PyUnicode_CheckExact(value.ptr())) return nb::borrow<nb::str>(value);
    PyObject* s = PyObject_Str(value.ptr());
    if (!s) throw nb::python_error();
    return nb::steal<nb::str>(s);
}

nb::object map_get(nb::handle mapping, const char* key, nb::handle fallback) {
    if (PyDict_CheckExact(mapping.ptr())) {
        PyObject* v = PyDict_GetItemString(mapping.ptr(), key);
        return nb::borrow(v ? v : fallback.ptr());
    }
    return mapping.attr("get")(key, fallback);
}

nb::str formatted(nb::handle value, const char* spec) {
    PyObject* r = PyObject_Format(value.ptr(), nb::str(spec).ptr());
    if (!r) throw nb::python_error();
    return nb::steal<nb::str>(r);
}
