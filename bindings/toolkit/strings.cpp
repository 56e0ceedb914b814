#include "toolkit/strings.hpp"

#include <type_traits>

namespace quillon::bind {

nb::str make_str(const char32_t* data, std::size_t n) {
    char32_t maxchar = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (data[i] > maxchar) maxchar = data[i];
    if (maxchar > 0x10FFFF) throw nb::value_error("code point out of range");
    PyObject* s = PyUnicode_New(static_cast<Py_ssize_t>(n), static_cast<Py_UCS4>(maxchar));
    if (!s) throw nb::python_error();
    // Narrowing copy into the compact kind CPython chose for maxchar.
    auto copy = [&](auto* out) {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::remove_pointer_t<decltype(out)>>(data[i]);
    };
    switch (PyUnicode_KIND(s)) {
        case PyUnicode_1BYTE_KIND: copy(PyUnicode_1BYTE_DATA(s)); break;
        case PyUnicode_2BYTE_KIND: copy(PyUnicode_2BYTE_DATA(s)); break;
        default: copy(PyUnicode_4BYTE_DATA(s));
    }
    return nb::steal<nb::str>(s);
}

}  // namespace quillon::bind
