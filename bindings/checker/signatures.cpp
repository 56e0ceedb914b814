// Signature validation: every signatory searched in the partner list (QSA)
// of the company represented, or of any company of the contract when that
// company was not found.
//
// The operations call one another through the instance, so a host may
// replace any of them.  When none of _normalizar_texto, _comparar_nomes and
// _verificar_poder_assinatura is replaced, the search runs in the core on
// names prepared once per call (quillon::qsa::PartnerList: each partner list
// normalised once, not once per signatory).
#include "checker/parts.hpp"

#include <unordered_map>
#include <vector>

#include "quillon/names.hpp"
#include "quillon/qsa.hpp"

namespace names_core = quillon::names;

namespace {

// dict[key], borrowed; nullptr when missing (a failing __eq__ or __hash__ raises).
PyObject* dict_item(PyObject* dict, PyObject* key) {
    PyObject* v = PyDict_GetItemWithError(dict, key);
    if (!v && PyErr_Occurred()) throw nb::python_error();
    return v;
}

// The instance dictionary of a ContractChecker, borrowed; nullptr when it has none yet.
PyObject* instance_dict(nb::handle self) {
    const Py_ssize_t offset = Py_TYPE(self.ptr())->tp_dictoffset;
    if (offset > 0) return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self.ptr()) + offset);
    return owned(PyObject_GenericGetDict(self.ptr(), nullptr)).ptr();  // the instance keeps it
}

// A method of the class, held for the process once registered: a replaced
// one that was freed can never be mistaken for it.
struct OwnMethod {
    Name name;
    PyObject* fn = nullptr;

    // Whether self.<name> still resolves to it.  Public look-ups only: the
    // instance dictionary, then the class.
    bool in(nb::handle self) const {
        PyObject* dict = instance_dict(self);
        if (dict && dict_item(dict, name.get())) return false;
        PyTypeObject* type = Py_TYPE(self.ptr());
        if (type == g_checker_type) return dict_item(type->tp_dict, name.get()) == fn;  // the common case
        return owned(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), name.get())).is(fn);
    }
};
OwnMethod kNormalizar{Name{"_normalizar_texto"}}, kComparar{Name{"_comparar_nomes"}},
    kVerificar{Name{"_verificar_poder_assinatura"}};

// Whether the name rule of the core decides for this instance: neither the
// normalisation nor the comparison is replaced.
bool own_name_rule(nb::handle self) { return kNormalizar.in(self) && kComparar.in(self); }

// A QSA list ready for searching, with each partner's qualification and its
// representative's beside it.  A QSA name is a str, or None read as empty;
// anything else is the TypeError _comparar_nomes would raise.
struct Partners {
    quillon::qsa::PartnerList list;
    std::vector<std::pair<nb::object, nb::object>> qualificacoes;

    explicit Partners(nb::handle dados) {
        auto name = [](nb::handle v) {
            return v.is_none() ? names_core::Prepared() : prepared_name(text_arg(v, "_comparar_nomes", "nome2"));
        };
        for (nb::handle entry : field(dados, "socios", nb::list())) {
            names_core::Prepared nome = name(field(entry, "nome", nb::str("")));
            nb::object q = field(entry, "qualificacao", nb::none());
            nb::object rep = field(entry, "nome_representante", nb::str(""));
            const bool represented = truth(rep);
            list.add(std::move(nome), represented ? name(rep) : names_core::Prepared());
            qualificacoes.emplace_back(
                q, represented ? field(entry, "qualificacao_representante", nb::none()) : nb::object(nb::none()));
        }
    }

    std::pair<bool, nb::object> find(const names_core::Prepared& nome) const {
        auto hit = list.find(nome);
        if (!hit) return {false, nb::none()};
        const auto& q = qualificacoes[hit->partner];
        return {true, hit->representative ? q.second : q.first};
    }
};

nb::str normalizar_texto(nb::handle, nb::handle texto) {
    return make_str(prepared_name(text_arg(texto, "_normalizar_texto", "texto")).text());
}

// The code points of a str a replaced _normalizar_texto gave.
std::u32string normalized_by(nb::handle normalizar, nb::handle nome) {
    nb::object s = normalizar(nome);
    if (!PyUnicode_Check(s.ptr())) raise_wrong_type("_comparar_nomes", "_normalizar_texto() result", "str", s);
    return with_code_units(s.ptr(), [](const auto* d, std::size_t n) { return std::u32string(d, d + n); });
}

bool comparar_nomes(nb::handle self, nb::handle nome1, nb::handle nome2) {
    PyObject* a = text_arg(nome1, "_comparar_nomes", "nome1");
    PyObject* b = text_arg(nome2, "_comparar_nomes", "nome2");
    if (!kNormalizar.in(self)) {
        nb::object normalizar = self.attr("_normalizar_texto");
        std::u32string n1 = normalized_by(normalizar, nome1);
        return names_core::match_normalized(n1, normalized_by(normalizar, nome2));
    }
    thread_local std::u32string n1, n2;  // reused: no allocation once warm
    for (auto [s, out] : {std::pair{a, &n1}, std::pair{b, &n2}}) {
        out->clear();
        with_code_units(s, [&](const auto* d, std::size_t n) { quillon::text::fold_append(d, n, *out); });
        quillon::text::strip_in_place(*out);
    }
    return names_core::match_normalized(n1, n2);
}

nb::tuple verificar_poder(nb::handle self, nb::handle nome_signatario, nb::handle dados_receita) {
    PyObject* nome = text_arg(nome_signatario, "_verificar_poder_assinatura", "nome_signatario");
    dict_arg(dados_receita, "_verificar_poder_assinatura", "dados_receita");
    if (own_name_rule(self)) {
        auto [found, qualificacao] = Partners(dados_receita).find(prepared_name(nome));
        return nb::make_tuple(found, qualificacao);
    }
    nb::object comparar = self.attr("_comparar_nomes");
    for (nb::handle entry : field(dados_receita, "socios", nb::list())) {
        if (truth(comparar(nome_signatario, field(entry, "nome", nb::str("")))))
            return nb::make_tuple(true, field(entry, "qualificacao", nb::none()));
        nb::object rep = field(entry, "nome_representante", nb::str(""));
        if (truth(rep) && truth(comparar(nome_signatario, rep)))
            return nb::make_tuple(true, field(entry, "qualificacao_representante", nb::none()));
    }
    return nb::make_tuple(false, nb::none());
}

// Searches the QSA of records for one signatory after another: in the core
// with partner lists prepared once per call, or through the instance's methods.
class QsaSearch {
public:
    explicit QsaSearch(nb::handle self) : self_(self), fast_(kVerificar.in(self) && own_name_rule(self)) {}

    std::pair<bool, nb::object> run(nb::handle dados) {
        if (!fast_) {
            nb::tuple r = unpack(self_.attr("_verificar_poder_assinatura")(nome_, dados), 2,
                                 "_verificar_poder_assinatura must return two values");
            return {truth(r[0]), nb::borrow(r[1])};
        }
        dict_arg(dados, "_verificar_poder_assinatura", "dados_receita");
        auto it = memo_.find(dados.ptr());
        if (it == memo_.end())  // the record held, so its address stays its own
            it = memo_.emplace(dados.ptr(), std::pair{nb::borrow(dados), Partners(dados)}).first;
        return it->second.second.find(prepared_);
    }

    // (found, qualification) for the signatory: the represented company's
    // record `dados`, else the first cached record whose QSA holds the name
    // (`dados` then set to it).  The cached records in insertion order, by
    // Python's own iteration, so a cache changed during the scan fails as a
    // dict would; the core's search looks at a record cached under two keys
    // once (memo_ holds it, so its address stays its own), a replaced
    // _verificar_poder_assinatura is called for each.  No QSA holding the
    // name gives no qualification, whatever a replaced method answered along
    // with "not found".
    std::pair<bool, nb::object> holder(nb::handle nome, nb::object& dados, nb::handle cache) {
        nome_ = nb::borrow(nome);
        if (fast_) prepared_ = prepared_name(text_arg(nome, "_verificar_poder_assinatura", "nome_signatario"));
        if (truth(dados)) return run(dados);
        std::pair<bool, nb::object> out{false, nb::none()};
        quillon::qsa::scan_records(
            cache.attr("values")(), [&](nb::handle r) -> const void* { return fast_ ? r.ptr() : nullptr; },
            [&](nb::handle r) { return run(r); },
            [&](nb::handle r, nb::object q) { dados = nb::borrow(r); out = {true, std::move(q)}; }, 1);
        return out;
    }

private:
    nb::handle self_;
    nb::object nome_;
    bool fast_;
    names_core::Prepared prepared_;
    std::unordered_map<PyObject*, std::pair<nb::object, Partners>> memo_;
};

nb::object cache_get(nb::handle cache, nb::handle key) {
    PyObject* v = dict_item(cache.ptr(), key.ptr());
    return v ? nb::borrow(v) : nb::none();
}

nb::object unidentified(nb::handle assinatura) {
    return checker_ns.call(names::AssinaturaVerificada, nb::arg("nome_signatario") = "(não identificado)",
                           nb::arg("tipo_assinatura") = assinatura.attr("tipo_assinatura"),
                           nb::arg("campos") = campo_models({rules::unidentified_signatory_field()}),
                           nb::arg("problemas") = str_list({"Signatário não identificado"}));
}

nb::object verified_signature(nb::handle self, QsaSearch& qsa, bool corroborate, nb::handle assinatura,
                              nb::handle cache) {
    nb::object nome = assinatura.attr("nome_signatario");
    // A host's own kind of name (no str) is judged by its own truth and equality.
    const bool identified = nome.is_none() || PyUnicode_CheckExact(nome.ptr())
                                ? rules::identified_signatory(text_of(nome))
                                : truth(nome) && !nome.equal(nb::str("N/A"));
    if (!identified) return unidentified(assinatura);
    log_line(self, "Verificando: " + utf8(nome), "👤");

    nb::object cnpj_empresa = assinatura.attr("cnpj_empresa"), empresa = assinatura.attr("empresa_representada");
    nb::object dados =
        truth(cnpj_empresa) ? cache_get(cache, checker_ns.call(names::limpar_cnpj, cnpj_empresa)) : nb::none();
    if (!truth(dados) && truth(empresa)) dados = cache_get(cache, self.attr("_normalizar_texto")(empresa));
    if (corroborate) return corroborated_signature(self, assinatura, nome, dados, cache);

    auto [tem_poder, qualificacao] = qsa.holder(nome, dados, cache);
    const bool has_record = truth(dados);
    rules::SignatureFields s = rules::signature_power_field(
        utf8(nome), tem_poder, text_of(qualificacao), has_record,
        !tem_poder && has_record ? qsa_summary(dados) : std::string());
    return signature_model(self, assinatura, nome, s, tem_poder, qualificacao);
}

nb::list validar_assinaturas(nb::handle self, nb::handle assinaturas_arg, nb::handle cache_arg) {
    nb::list assinaturas = list_arg(assinaturas_arg, "_validar_assinaturas", "assinaturas");
    nb::dict cache = dict_arg(cache_arg, "_validar_assinaturas", "dados_receita_cache");
    log_line(self, "\n--- Verificando Assinaturas ---", "✍️");
    QsaSearch qsa(self);
    const bool corroborate = truth(nb::getattr(self, "corroborar_assinaturas", nb::none()));
    nb::list out;
    for (nb::handle assinatura : items_of(assinaturas))  // the callbacks may edit the list
        out.append(verified_signature(self, qsa, corroborate, assinatura, cache));
    return out;
}

}  // namespace

void register_signatures(nb::class_<ContractChecker>& cls) {
    cls.def("_normalizar_texto", &normalizar_texto, param("texto"),
            nb::sig("def _normalizar_texto(self, texto: str) -> str"), "Normaliza texto para comparação.");
    cls.def("_comparar_nomes", &comparar_nomes, param("nome1"), param("nome2"),
            nb::sig("def _comparar_nomes(self, nome1: str, nome2: str) -> bool"), "Compara dois nomes de forma flexível.");
    cls.def("_verificar_poder_assinatura", &verificar_poder, param("nome_signatario"), param("dados_receita"),
            nb::sig("def _verificar_poder_assinatura(self, nome_signatario: str, dados_receita: dict) -> "
                    "tuple[bool, str | None]"),
            "Verifica se signatário está no QSA.");
    cls.def("_validar_assinaturas", &validar_assinaturas, param("assinaturas"), param("dados_receita_cache"),
            nb::sig("def _validar_assinaturas(self, assinaturas: list, dados_receita_cache: dict) -> list"),
            "Valida assinaturas contra QSA.");
    for (OwnMethod* own : {&kNormalizar, &kComparar, &kVerificar})
        own->fn = owned(PyObject_GetAttr(cls.ptr(), own->name.get())).release().ptr();
}
