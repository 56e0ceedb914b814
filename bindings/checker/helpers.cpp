// Printing, progress lines and the conversions between host values and the
// rules' texts, shared by the checker files.
#include "checker/parts.hpp"

PyTypeObject* g_checker_type = nullptr;

void log_line(nb::handle self, const std::string& message, const char* emoji) { self.attr("_log")(py(message), emoji); }

// builtins.print read at each call: a host that replaces it sees every line.
void print_line(const std::string& text) { import_name("builtins", "print")(py(text)); }

std::string utf8(nb::handle value) {
    nb::str s(value);
    Py_ssize_t n = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(s.ptr(), &n)) return std::string(data, static_cast<size_t>(n));
    PyErr_Clear();  // lone surrogates: carried through as they stand
    nb::object bytes = owned(PyUnicode_AsEncodedString(s.ptr(), "utf-8", "surrogatepass"));
    return std::string(PyBytes_AS_STRING(bytes.ptr()), static_cast<size_t>(PyBytes_GET_SIZE(bytes.ptr())));
}

rules::Text text_of(nb::handle value) { return value.is_none() ? rules::Text() : utf8(value); }

quillon::names::Prepared prepared_name(nb::handle s) {
    return with_code_units(s.ptr(), [](const auto* d, std::size_t n) { return quillon::names::Prepared::from(d, n); });
}

nb::str py(const std::string& text) {
    return nb::borrow<nb::str>(owned(PyUnicode_DecodeUTF8(text.data(), Py_ssize_t(text.size()), "surrogatepass")));
}

nb::object py(const rules::Text& text) { return text ? nb::object(py(*text)) : nb::none(); }

nb::str formatted(nb::handle value, const char* spec) {
    return nb::borrow<nb::str>(owned(PyObject_Format(value.ptr(), nb::str(spec).ptr())));
}

nb::dict keywords(nb::handle mapping) {
    nb::dict out;
    checked(PyDict_Merge(out.ptr(), mapping.ptr(), 1));
    return out;
}

nb::tuple unpack(nb::handle value, std::size_t n, const char* what) {
    nb::tuple t = nb::borrow<nb::tuple>(owned(PySequence_Tuple(value.ptr())));
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
    for (nb::handle entry : empty ? nb::list() : owned(PySequence_GetSlice(socios.ptr(), 0, 3))) {
        nb::object nome = field(entry, "nome", nb::str(""));
        if (!nome.is_none() && !PyUnicode_Check(nome.ptr()))  // as ", ".join() refuses it
            raise_error(PyExc_TypeError, "sequence item %zu: expected str instance, %.200s found", first.size(),
                        Py_TYPE(nome.ptr())->tp_name);
        first.push_back(text_of(nome).value_or(""));
    }
    return rules::qsa_summary(first, empty);
}
