#include "toolkit/strings.hpp"

namespace quillon::bind {

nb::str make_str(const char32_t* data, std::size_t n) {
    char32_t maxchar = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (data[i] > maxchar) maxchar = data[i];
    if (maxchar > 0x10FFFF) throw nb::value_error("code point out of range");
    PyObject* s = PyUnicode_New(static_cast<Py_ssize_t>(n), static_cast<Py_UCS4>(maxchar));
    if (!s) throw nb::python_error();
    int kind = PyUnicode_KIND(s);
    void* out = PyUnicode_DATA(s);
    // Narrowing copy into the compact kind CPython chose for maxchar.
    switch (kind) {
        case PyUnicode_1BYTE_KIND:
            for (std::size_t i = 0; i < n; ++i) static_cast<Py_UCS1*>(out)[i] = static_cast<Py_UCS1>(data[i]);
            break;
        case PyUnicode_2BYTE_KIND:
            for (std::size_t i = 0; i < n; ++i) static_cast<Py_UCS2*>(out)[i] = static_cast<Py_UCS2>(data[i]);
            break;
        default:
            for (std::size_t i = 0; i < n; ++i) static_cast<Py_UCS4*>(out)[i] = static_cast<Py_UCS4>(data[i]);
    }
    return nb::steal<nb::str>(s);
}

}  // namespace quillon::bind
