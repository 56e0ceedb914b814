// An extension module that behaves like the Python module it replaces.
//
// Host code and tests patch module attributes (unittest.mock.patch, pytest's
// monkeypatch) exactly as on a Python module.  So every name a module binds at
// load time is a module attribute, and every call to such a name, or to a
// module-level function that does I/O, reads the attribute from the module
// dictionary at the moment of the call.  When the attribute still holds the
// module's own object, the caller may skip the Python call and go straight to
// the C++ core: patching costs nothing where nobody patches.
#pragma once

#include <Python.h>
#include <nanobind/nanobind.h>

#include <initializer_list>
#include <utility>

namespace quillon::bind {

namespace nb = nanobind;

// An attribute name, interned on first use and kept for the process.
class Name {
public:
    constexpr explicit Name(const char* text) noexcept : text_(text) {}
    PyObject* get() const;
    const char* text() const noexcept { return text_; }

private:
    const char* text_;
    mutable PyObject* str_ = nullptr;
};

class ModuleNamespace {
public:
    // Call first thing in NB_MODULE.  Keeps the module dictionary until the
    // interpreter's atexit hooks run, then lets it go, so the module can be
    // torn down normally at shutdown.
    void attach(nb::module_ m);

    const char* dotted_name() const noexcept { return dotted_name_; }
    // The module object itself, from sys.modules (ImportError when it is not loaded).
    nb::module_ module() const;

    // The attribute's current value, as a strong reference: code that calls
    // into Python while it uses the value (iterating it, calling it) must not
    // see it freed when that code rebinds or deletes the attribute.  A deleted
    // attribute raises NameError, as a Python module's global look-up would.
    nb::object get(const Name& name) const;
    // The same, or an invalid object when the attribute is missing (a table
    // that falls back to its built-in value).
    nb::object find(const char* name) const;
    // Whether the attribute still holds `own` (the module's own object).
    bool holds(const Name& name, nb::handle own) const { return get(name).is(own); }

    void set(const char* name, nb::handle value);
    // __all__, as a list of str.
    void set_all(std::initializer_list<const char*> names);

    // `import <module>` bound under `as`; an ImportError fails the loading.
    nb::object import_module(const char* module, const char* as);
    // `from <module> import <name> [as <as>]`, with the ImportError text of
    // that statement when the name is missing.
    nb::object import_from(const char* module, const char* name, const char* as = nullptr);

    // A module attribute bound to an imported module on first use rather than
    // at load (a heavy dependency such as requests or fitz): `module.<as>`
    // from Python (through the module's __getattr__) and get() from C++ both
    // import it then and store it as an ordinary attribute.  Patching works as
    // on any attribute.  Call once per name, before the module is used.
    void lazy_module(const char* as, const char* module);

    // Calls the attribute with positional arguments.
    template <class... Args>
    nb::object call(const Name& name, Args&&... args) const {
        return get(name)(std::forward<Args>(args)...);
    }

private:
    nb::object load_lazy(PyObject* key) const;

    PyObject* dict_ = nullptr;  // strong reference, released at exit
    PyObject* lazy_ = nullptr;  // {attribute: module path}, kept in the module dict
    const char* dotted_name_ = "";
};

// The value of `from <module> import <name>`, bound nowhere: the module is
// imported (or taken from sys.modules) now, so a replaced one is seen; a
// missing name is the statement's ImportError.
nb::object import_name(const char* module, const char* name);

}  // namespace quillon::bind
