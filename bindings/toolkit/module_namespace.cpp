#include "toolkit/module_namespace.hpp"

#include "toolkit/args.hpp"

namespace quillon::bind {

PyObject* Name::get() const {
    if (!str_) str_ = owned(PyUnicode_InternFromString(text_)).release().ptr();
    return str_;
}

void ModuleNamespace::attach(nb::module_ m) {
    dict_ = PyModule_GetDict(m.ptr());
    Py_INCREF(dict_);
    dotted_name_ = PyModule_GetName(m.ptr());
    if (!dotted_name_) throw nb::python_error();
    // Release the dictionary before finalisation; a call after that (from a
    // late atexit hook) finds an empty namespace and raises NameError.
    nb::module_ atexit = nb::module_::import_("atexit");
    atexit.attr("register")(nb::cpp_function([this]() {
        PyObject* d = dict_;
        dict_ = nullptr;
        Py_XDECREF(d);
    }));
}

nb::module_ ModuleNamespace::module() const {
    PyObject* mod = PyImport_GetModule(nb::str(dotted_name_).ptr());
    if (!mod && !PyErr_Occurred()) PyErr_Format(PyExc_ImportError, "module %s is not loaded", dotted_name_);
    return nb::borrow<nb::module_>(owned(mod));
}

nb::object ModuleNamespace::get(const Name& name) const {
    PyObject* v = dict_ ? PyDict_GetItemWithError(dict_, name.get()) : nullptr;
    if (!v && !PyErr_Occurred() && lazy_) return load_lazy(name.get());
    if (!v) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%s' is not defined", name.text());
        throw nb::python_error();
    }
    return nb::borrow(v);
}

nb::object ModuleNamespace::find(const char* name) const {
    PyObject* v = dict_ ? PyDict_GetItemString(dict_, name) : nullptr;  // borrowed until the borrow below
    return v ? nb::borrow(v) : nb::object();
}

void ModuleNamespace::lazy_module(const char* as, const char* module) {
    if (!lazy_) {
        nb::dict table;
        set("_lazy_modules", table);
        lazy_ = table.ptr();  // owned by the module dictionary
        // PEP 562: attribute look-ups that miss the dictionary land here.
        set("__getattr__", nb::cpp_function(
                               [this](nb::str attr) -> nb::object {
                                   if (!PyDict_Contains(lazy_, attr.ptr())) {
                                       PyErr_Format(PyExc_AttributeError, "module '%s' has no attribute %R",
                                                    dotted_name_, attr.ptr());
                                       throw nb::python_error();
                                   }
                                   return load_lazy(attr.ptr());
                               },
                               nb::arg("name")));
    }
    checked(PyDict_SetItemString(lazy_, as, nb::str(module).ptr()));
}

nb::object ModuleNamespace::load_lazy(PyObject* key) const {
    PyObject* path = PyDict_GetItemWithError(lazy_, key);
    if (!path) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name %R is not defined", key);
        throw nb::python_error();
    }
    nb::object keep_path = nb::borrow(path);  // the import may run code that edits the table
    nb::object mod = owned(PyImport_Import(path));
    checked(PyDict_SetItem(dict_, key, mod.ptr()));
    return mod;
}

void ModuleNamespace::set(const char* name, nb::handle value) {
    checked(PyDict_SetItemString(dict_, name, value.ptr()));
}

void ModuleNamespace::set_all(std::initializer_list<const char*> names) {
    nb::list all;
    for (const char* n : names) all.append(nb::str(n));
    set("__all__", all);
}

nb::object ModuleNamespace::import_module(const char* module, const char* as) {
    nb::object mod = nb::module_::import_(module);
    set(as, mod);
    return mod;
}

nb::object ModuleNamespace::import_from(const char* module, const char* name, const char* as) {
    nb::object value = import_name(module, name);
    set(as ? as : name, value);
    return value;
}

nb::object import_name(const char* module, const char* name) {
    nb::object mod = nb::module_::import_(module);
    PyObject* v = PyObject_GetAttrString(mod.ptr(), name);
    if (v) return nb::steal(v);
    // Only a missing attribute is a missing name, as in the statement.
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw nb::python_error();
    PyErr_Clear();
    PyErr_Format(PyExc_ImportError, "cannot import name '%s' from '%s'", name, module);
    throw nb::python_error();
}

}  // namespace quillon::bind
