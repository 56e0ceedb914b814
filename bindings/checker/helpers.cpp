// Printing, progress lines and the conversions between host values and the
// rules' texts, shared by the checker files.
#include "checker/parts.hpp"

PyTypeObject* g_checker_type = nullptr;

namespace {

nb::object builtin_print() {
    static PyObject* builtins = PyImport_ImportModule("builtins");  // kept for the process
    if (!builtins) throw nb::python_error();
    // Read at each call: a host that replaces builtins.print sees every line.
    return nb::borrow(builtins).attr("print");
}

}  // namespace

void log_line(nb::handle self, const std::string& message, const char* emoji) { self.attr("_log")(py(message), emoji); }

void print_line(const std::string& text) { builtin_print()(py(text)); }

std::string utf8(nb::handle value) {
    nb::str s(value);
    Py_ssize_t n = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(s.ptr(), &n)) return std::string(data, static_cast<size_t>(n));
    PyErr_Clear();  // lone surrogates: carried through as they stand
    nb::object bytes = nb::steal(PyUnicode_AsEncodedString(s.ptr(), "utf-8", "surrogatepass"));
    if (!bytes.is_valid()) throw nb::python_error();
    return std::string(PyBytes_AS_STRING(bytes.ptr()), static_cast<size_t>(PyBytes_GET_SIZE(bytes.ptr())));
}

rules::Text text_of(nb::handle value) {
    if (value.is_none()) return std::nullopt;
    return utf8(value);
}

quillon::names::Prepared prepared_name(nb::handle s) {
    return with_code_units(s.ptr(), [](const auto* d, std::size_t n) { return quillon::names::Prepared::from(d, n); });
}

nb::str py(const std::string& text) {
    PyObject* s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass");
    if (!s) throw nb::python_error();
    return nb::steal<nb::str>(s);
}

nb::object py(const rules::Text& text) { return text ? nb::object(py(*text)) : nb::none(); }

nb::str formatted(nb::handle value, const char* spec) {
    PyObject* r = PyObject_Format(value.ptr(), nb::str(spec).ptr());
    if (!r) throw nb::python_error();
    return nb::steal<nb::str>(r);
}

nb::list list_copy(nb::handle iterable) {
    PyObject* out = PySequence_List(iterable.ptr());
    if (!out) throw nb::python_error();
    return nb::steal<nb::list>(out);
}

nb::tuple unpack(nb::handle value, std::size_t n, const char* what) {
    nb::tuple t = nb::steal<nb::tuple>(PySequence_Tuple(value.ptr()));
    if (!t.is_valid()) throw nb::python_error();
    if (t.size() != n) throw nb::value_error(what);
    return t;
}

nb::list campo_models(const std::vector<rules::Field>& fields) {
    nb::list out;
    for (const rules::Field& f : fields)
        out.append(checker_ns.call(names::CampoVerificado, nb::arg("campo") = py(f.campo),
                                   nb::arg("status") = rules::status_text(f.status),
                                   nb::arg("valor_contrato") = py(f.valor_contrato),
                                   nb::arg("valor_receita") = py(f.valor_receita), nb::arg("mensagem") = py(f.mensagem)));
    return out;
}

nb::object signature_model(nb::handle self, nb::handle assinatura, nb::handle nome, const rules::SignatureFields& s,
                           bool tem_poder, nb::handle qualificacao, const std::string* evidencia) {
    nb::list campos = campo_models({s.campo});
    log_line(self, s.log_line);
    nb::dict kw;
    kw["nome_signatario"] = nome;
    for (const char* key : {"cargo", "empresa_representada", "cnpj_empresa", "tipo_assinatura"})
        kw[key] = assinatura.attr(key);
    kw["campos"] = campos;
    kw["tem_poder_assinatura"] = tem_poder;
    kw["qualificacao_qsa"] = qualificacao;
    kw["problemas"] = s.problema ? str_list({*s.problema}) : nb::list();
    if (evidencia) kw["evidencia"] = py(*evidencia);
    return checker_ns.get(names::AssinaturaVerificada)(**kw);
}

nb::list str_list(const std::vector<std::string>& texts) {
    nb::list out;
    for (const std::string& t : texts) out.append(py(t));
    return out;
}

std::string qsa_summary(nb::handle dados) {
    nb::object socios = field(dados, "socios", nb::list());
    std::vector<std::string> first;
    const bool empty = !truth(socios);
    if (!empty) {
        nb::object head = nb::steal(PySequence_GetSlice(socios.ptr(), 0, 3));
        if (!head.is_valid()) throw nb::python_error();
        for (nb::handle entry : head) {
            nb::object nome = field(entry, "nome", nb::str(""));
            if (!nome.is_none() && !PyUnicode_Check(nome.ptr())) {  // as ", ".join() refuses it
                PyErr_Format(PyExc_TypeError, "sequence item %zu: expected str instance, %.200s found", first.size(),
                             Py_TYPE(nome.ptr())->tp_name);
                throw nb::python_error();
            }
            first.push_back(text_of(nome).value_or(""));
        }
    }
    return rules::qsa_summary(first, empty);
}

// The instance dictionary of a ContractChecker, borrowed; nullptr when it has none yet.
PyObject* instance_dict(nb::handle self) {
    const Py_ssize_t offset = Py_TYPE(self.ptr())->tp_dictoffset;
    if (offset > 0) return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self.ptr()) + offset);
    nb::object dict = nb::steal(PyObject_GenericGetDict(self.ptr(), nullptr));
    if (!dict.is_valid()) throw nb::python_error();
    return dict.ptr();  // the instance keeps it
}

bool is_own(nb::handle self, const Name& name, nb::handle own) {
    // Public look-ups only: the instance dictionary, then the class (the
    // class's own function object is held, so its address names it alone).
    PyObject* dict = instance_dict(self);
    if (dict && PyDict_GetItemWithError(dict, name.get())) return false;
    if (PyErr_Occurred()) throw nb::python_error();
    PyTypeObject* type = Py_TYPE(self.ptr());
    if (type == g_checker_type) {  // the common case: the class's own dictionary (tp_dict) decides
        PyObject* found = PyDict_GetItemWithError(type->tp_dict, name.get());
        if (!found && PyErr_Occurred()) throw nb::python_error();
        return found == own.ptr();
    }
    nb::object found = nb::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), name.get()));
    if (!found.is_valid()) throw nb::python_error();
    return found.is(own);
}
