// Helpers shared by the parts of the ocr module.
#include "ocr/parts.hpp"

namespace ocr_detail {

namespace qo = quillon::ocr;

void bytes_like_arg(nb::handle h, const char* fn, const char* param) {
    if (!PyObject_CheckBuffer(h.ptr())) raise_wrong_type(fn, param, "a bytes-like object", h);
}

nb::str strip(nb::handle s) {
    // str.strip(s), unbound: a str subclass gets str's own strip, and an
    // exact str with nothing to strip comes back as itself.
    return owned_str(PyObject_CallMethod(reinterpret_cast<PyObject*>(&PyUnicode_Type), "strip", "O", s.ptr()));
}

nb::object stripped_or_none(nb::handle s) {
    nb::str text = strip(s);
    return PyUnicode_GET_LENGTH(text.ptr()) == 0 ? nb::none() : nb::object(std::move(text));
}

nb::str join_blank_line(nb::handle first, nb::handle second) {
    return strip(owned(PyUnicode_FromFormat("%U\n\n%U", first.ptr(), second.ptr())));
}

nb::str lower(nb::handle s) { return owned_str(PyObject_CallMethod(s.ptr(), "lower", nullptr)); }

nb::object attr_or_none(nb::handle obj, const char* name) {
    PyObject* v = PyObject_GetAttrString(obj.ptr(), name);
    if (v || !PyErr_ExceptionMatches(PyExc_AttributeError)) return owned(v);
    PyErr_Clear();
    return nb::none();
}

std::pair<nb::object, nb::object> unpack_pair(nb::handle value) {
    PyObject* it = PyObject_GetIter(value.ptr());
    if (!it && PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        raise_error(PyExc_TypeError, "cannot unpack non-iterable %.200s object", Py_TYPE(value.ptr())->tp_name);
    }
    nb::object iter = owned(it);
    // A third item is asked for, as Python's unpacking does, and no more.
    nb::object items[3];
    int got = 0;
    while (got < 3 && (items[got] = nb::steal(PyIter_Next(iter.ptr()))).is_valid()) ++got;
    if (PyErr_Occurred()) throw nb::python_error();
    if (got != 2)
        raise_error(PyExc_ValueError, got < 2 ? "not enough values to unpack (expected 2, got %d)"
                                              : "too many values to unpack (expected 2)", got);
    return {std::move(items[0]), std::move(items[1])};
}

qo::Recognised classify(nb::handle result) {
    if (result.is_none()) return qo::Recognised::Nothing;
    if (PyUnicode_Check(result.ptr()))
        return PyUnicode_GET_LENGTH(result.ptr()) > 0 ? qo::Recognised::Text : qo::Recognised::Empty;
    return truth(result) ? qo::Recognised::Other : qo::Recognised::Empty;
}

void close_quietly(nb::handle obj) noexcept {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyObject* r = PyObject_CallMethod(obj.ptr(), "close", nullptr);
    if (!r) PyErr_Clear();
    Py_XDECREF(r);
    PyErr_Restore(type, value, tb);
}

bool is_path_source(nb::handle source) {
    return PyUnicode_Check(source.ptr()) || nb::isinstance(source, nb::module_::import_("os").attr("PathLike"));
}

nb::str display_name(nb::handle source, PyObject* filename) {
    if (is_path_source(source)) return nb::str(nb::module_::import_("pathlib").attr("Path")(source).attr("name"));
    return name_or_default(filename);
}

nb::str name_or_default(PyObject* filename) {
    if (filename && PyUnicode_GET_LENGTH(filename) > 0) return nb::borrow<nb::str>(filename);
    return nb::str("document.pdf");
}

}  // namespace ocr_detail
