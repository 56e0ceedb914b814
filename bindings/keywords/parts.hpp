// What the files of the keywords module share: its namespace, the
// registration of the document screen, and the reading of a table attribute.
#pragma once

#include <nanobind/nanobind.h>

#include <string>
#include <vector>

#include "toolkit/toolkit.hpp"

namespace quillon::bind {

// The module's attributes (load-time names, tables, logger).
extern ModuleNamespace keywords_ns;

// Texts at least this long are worked on with the GIL released.
inline constexpr std::size_t kReleaseGilFrom = std::size_t{1} << 16;

// f(), with the GIL released when the text worked on (n code points) is long.
template <class F>
decltype(auto) unlocked_if_long(std::size_t n, F&& f) {
    if (n < kReleaseGilFrom) return f();
    nb::gil_scoped_release unlocked;
    return f();
}

inline std::u32string u32_of(nb::handle s) {
    return with_code_units(s.ptr(), [](const auto* d, std::size_t n) { return std::u32string(d, d + n); });
}

// A new list of str, one per entry of a table of code-point strings.
template <class Strings>
nb::list as_list(const Strings& entries) {
    nb::list out;
    for (const auto& e : entries) out.append(make_str(e.data(), e.size()));
    return out;
}

// A snapshot of a table's entries (any iterable, read as a for loop reads it),
// each a str, also copied into `out`.  Another entry is a TypeError
// "<fn>(): <name> entries must be str, not <type>".
inline nb::tuple str_entries(nb::handle table, const char* fn, const char* name, std::vector<std::u32string>& out) {
    nb::tuple entries = items_of(table);
    for (nb::handle entry : entries) {
        if (!PyUnicode_Check(entry.ptr()))
            raise_error(PyExc_TypeError, "%s(): %s entries must be str, not %.200s", fn, name,
                        Py_TYPE(entry.ptr())->tp_name);
        out.push_back(u32_of(entry));
    }
    return entries;
}

}  // namespace quillon::bind

void register_screening(nanobind::module_& m);
