// Reading and making Python strings without a detour through UTF-8.
//
// A CPython string stores one code point per code unit of 1, 2 or 4 bytes.
// The core's text functions are templates over that width, so a binding hands
// them the string's own buffer.  Lone surrogates and NUL characters are just
// code points here: nothing fails to encode.
#pragma once

#include <Python.h>
#include <nanobind/nanobind.h>

#include <cstddef>
#include <string>

namespace quillon::bind {

namespace nb = nanobind;

// Calls f(const CodeUnit* data, std::size_t length) with the buffer of the
// str object `s` (which must be a str) and returns what f returns.
template <class F>
decltype(auto) with_code_units(PyObject* s, F&& f) {
    auto n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(s));
    switch (PyUnicode_KIND(s)) {
        case PyUnicode_1BYTE_KIND: return f(static_cast<const Py_UCS1*>(PyUnicode_DATA(s)), n);
        case PyUnicode_2BYTE_KIND: return f(static_cast<const Py_UCS2*>(PyUnicode_DATA(s)), n);
        default: return f(static_cast<const Py_UCS4*>(PyUnicode_DATA(s)), n);
    }
}

// A new str from code points (any range, surrogates included).
nb::str make_str(const char32_t* data, std::size_t n);
inline nb::str make_str(const std::u32string& s) { return make_str(s.data(), s.size()); }

}  // namespace quillon::bind
