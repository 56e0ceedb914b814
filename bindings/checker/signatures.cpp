// Signature validation: every signatory searched in the partner list (QSA)
// of the company represented, or of any company of the contract when that
// company was not found.
//
// The operations call one another through the instance, so a host may
// replace any of them.  When none of _normalizar_texto, _comparar_nomes and
// _verificar_poder_assinatura is replaced, the search runs in C++ on names
// prepared once per call (each partner list is normalised once, not once per
// signatory), which keeps a large contract against a large cache linear in
// the number of comparisons it really needs.
#include "checker/parts.hpp"

#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "quillon/names.hpp"

namespace names_core = quillon::names;

namespace {

inline constexpr Name kComparar{"_comparar_nomes"};
inline constexpr Name kVerificar{"_verificar_poder_assinatura"};

// The class's own function objects, to tell whether a host replaced one.
PyObject* g_own_comparar = nullptr;
PyObject* g_own_verificar = nullptr;

// Whether self.<name> still resolves to the class's own function: nothing in
// the instance dictionary and the same object along the type's MRO.
bool is_own(nb::handle self, const Name& name, PyObject* own) {
    PyObject** dictptr = _PyObject_GetDictPtr(self.ptr());
    if (dictptr && *dictptr) {
        PyObject* v = PyDict_GetItemWithError(*dictptr, name.get());
        if (v) return false;
        if (PyErr_Occurred()) throw nb::python_error();
    }
    return _PyType_Lookup(Py_TYPE(self.ptr()), name.get()) == own;
}

template <class F>
decltype(auto) with_text(PyObject* s, F&& f) {
    return with_code_units(s, [&](const auto* data, std::size_t n) { return f(data, n); });
}

names_core::Prepared prepare(PyObject* s) {
    return with_text(s, [](const auto* data, std::size_t n) { return names_core::Prepared::from(data, n); });
}

// A QSA name: a str, or None read as empty; anything else is a TypeError as
// _comparar_nomes would raise it.
names_core::Prepared prepare_qsa_name(nb::handle v, const char* param) {
    if (v.is_none()) return {};
    return prepare(text_arg(v, "_comparar_nomes", param));
}

struct Partner {
    names_core::Prepared nome;
    names_core::Prepared representante;
    nb::object qualificacao;
    nb::object qualificacao_representante;
};

// A partner list ready for searching: the prepared names, and beside them a
// flat array of their filters (name, representative), scanned first.
struct PartnerList {
    std::vector<Partner> partners;
    std::vector<names_core::Prepared::Filter> filters;  // two per partner
};

PartnerList prepare_partners(nb::handle dados) {
    PartnerList out;
    nb::object socios = map_get(dados, "socios", nb::list());
    for (nb::handle entry : socios) {
        Partner p;
        p.nome = prepare_qsa_name(map_get(entry, "nome", nb::str("")), "nome2");
        p.qualificacao = map_get(entry, "qualificacao", nb::none());
        nb::object rep = map_get(entry, "nome_representante", nb::str(""));
        if (truth(rep)) {
            p.representante = prepare_qsa_name(rep, "nome2");
            p.qualificacao_representante = map_get(entry, "qualificacao_representante", nb::none());
        }
        out.filters.push_back(p.nome.filter());
        out.filters.push_back(p.representante.filter());
        out.partners.push_back(std::move(p));
    }
    return out;
}

// The first partner whose name, or whose representative's name, matches:
// (true, its qualification), or (false, None).
std::pair<bool, nb::object> search(const names_core::Prepared& nome, const PartnerList& list) {
    if (nome.empty()) return {false, nb::none()};
    const auto f = nome.filter();
    for (std::size_t i = 0; i < list.partners.size(); ++i) {
        const Partner& p = list.partners[i];
        if (names_core::Prepared::may_match(f, list.filters[2 * i]) && names_core::match(nome, p.nome))
            return {true, p.qualificacao};
        if (!p.representante.empty() && names_core::Prepared::may_match(f, list.filters[2 * i + 1]) &&
            names_core::match(nome, p.representante))
            return {true, p.qualificacao_representante};
    }
    return {false, nb::none()};
}

// --- the four operations -----------------------------------------------------
nb::str normalizar_texto(nb::handle, nb::handle texto) {
    PyObject* s = text_arg(texto, "_normalizar_texto", "texto");
    return make_str(prepare(s).text());
}

// The normalised form of a str into a reused buffer (no allocation once warm).
void normalize_into(PyObject* s, std::u32string& out) {
    out.clear();
    with_text(s, [&](const auto* data, std::size_t n) { quillon::text::fold_append(data, n, out); });
    quillon::text::strip_in_place(out);
}

bool comparar_nomes(nb::handle, nb::handle nome1, nb::handle nome2) {
    PyObject* a = text_arg(nome1, "_comparar_nomes", "nome1");
    PyObject* b = text_arg(nome2, "_comparar_nomes", "nome2");
    thread_local std::u32string n1, n2;
    normalize_into(a, n1);
    normalize_into(b, n2);
    return names_core::match_normalized(n1, n2);
}

nb::tuple verificar_poder(nb::handle self, nb::handle nome_signatario, nb::handle dados_receita) {
    PyObject* nome = text_arg(nome_signatario, "_verificar_poder_assinatura", "nome_signatario");
    dict_arg(dados_receita, "_verificar_poder_assinatura", "dados_receita");
    if (is_own(self, kComparar, g_own_comparar)) {
        auto [found, qualificacao] = search(prepare(nome), prepare_partners(dados_receita));
        return nb::make_tuple(found, qualificacao);
    }

    nb::object comparar = self.attr("_comparar_nomes");
    for (nb::handle entry : map_get(dados_receita, "socios", nb::list())) {
        if (truth(comparar(nome_signatario, map_get(entry, "nome", nb::str("")))))
            return nb::make_tuple(true, map_get(entry, "qualificacao", nb::none()));
        nb::object rep = map_get(entry, "nome_representante", nb::str(""));
        if (truth(rep) && truth(comparar(nome_signatario, rep)))
            return nb::make_tuple(true, map_get(entry, "qualificacao_representante", nb::none()));
    }
    return nb::make_tuple(false, nb::none());
}

// Searches the QSA of one record: through C++ with prepared partner lists
// (kept per record for the whole call), or through the instance's methods.
class QsaSearch {
public:
    QsaSearch(nb::handle self, nb::handle nome)
        : self_(self), nome_(nome),
          fast_(is_own(self, kVerificar, g_own_verificar) && is_own(self, kComparar, g_own_comparar)) {}

    void set_name(nb::handle nome) {
        nome_ = nome;
        if (fast_) prepared_ = prepare(text_arg(nome, "_verificar_poder_assinatura", "nome_signatario"));
    }

    std::pair<bool, nb::object> run(nb::handle dados) {
        if (fast_) {
            dict_arg(dados, "_verificar_poder_assinatura", "dados_receita");
            return search(prepared_, partners_of(dados));
        }
        nb::object pair = self_.attr("_verificar_poder_assinatura")(nome_, dados);
        nb::tuple r = nb::steal<nb::tuple>(PySequence_Tuple(pair.ptr()));
        if (!r.is_valid()) throw nb::python_error();
        if (r.size() != 2) throw nb::value_error("_verificar_poder_assinatura must return two values");
        return {truth(r[0]), nb::borrow(r[1])};
    }

    void start_scan() { scanned_.clear(); }

    // In the C++ search, whether this record was already searched in the
    // current scan (the instance's own methods are always called).
    bool seen_in_scan(nb::handle record) { return fast_ && !scanned_.insert(record.ptr()).second; }

private:
    const PartnerList& partners_of(nb::handle dados) {
        auto it = memo_.find(dados.ptr());
        if (it != memo_.end()) return it->second.second;
        auto& slot = memo_[dados.ptr()];
        slot.first = nb::borrow(dados);  // held, so the address stays this record's
        slot.second = prepare_partners(dados);
        return slot.second;
    }

    nb::handle self_;
    nb::handle nome_;
    bool fast_;
    names_core::Prepared prepared_;
    std::unordered_map<PyObject*, std::pair<nb::object, PartnerList>> memo_;
    std::unordered_set<PyObject*> scanned_;  // records of the cache: alive during the scan
};

nb::object campo(const char* label, const char* status, nb::handle valor_contrato, nb::handle valor_receita,
                 nb::handle mensagem) {
    return checker_ns.call(names::CampoVerificado, nb::arg("campo") = label, nb::arg("status") = status,
                           nb::arg("valor_contrato") = valor_contrato, nb::arg("valor_receita") = valor_receita,
                           nb::arg("mensagem") = mensagem);
}

}  // namespace

nb::str qsa_summary(nb::handle dados) {
    nb::object socios = map_get(dados, "socios", nb::list());
    if (!truth(socios)) return nb::str("QSA vazio");
    nb::object first = nb::steal(PySequence_GetSlice(socios.ptr(), 0, 3));
    if (!first.is_valid()) throw nb::python_error();
    nb::list names;
    for (nb::handle entry : first) {
        nb::object n = map_get(entry, "nome", nb::str(""));
        names.append(n.is_none() ? nb::object(nb::str("")) : n);
    }
    return join_text("QSA: ", nb::str(", ").attr("join")(names), "...");
}

namespace {

nb::object cache_get(nb::handle cache, nb::handle key) {
    PyObject* v = PyDict_GetItemWithError(cache.ptr(), key.ptr());
    if (!v && PyErr_Occurred()) throw nb::python_error();
    return v ? nb::borrow(v) : nb::none();
}

nb::list validar_assinaturas(nb::handle self, nb::handle assinaturas_arg, nb::handle cache_arg) {
    nb::list assinaturas = list_arg(assinaturas_arg, "_validar_assinaturas", "assinaturas");
    nb::dict cache = dict_arg(cache_arg, "_validar_assinaturas", "dados_receita_cache");
    nb::list out;
    log_line(self, "\n--- Verificando Assinaturas ---", "✍️");
    QsaSearch qsa(self, nb::none());
    const bool corroborate = corroborates(self);

    for (nb::handle assinatura : items_of(assinaturas)) {  // the callbacks may edit the list
        nb::object nome = assinatura.attr("nome_signatario");
        if (!truth(nome) || nome.equal(nb::str("N/A"))) {
            nb::list campos, problemas;
            campos.append(checker_ns.call(names::CampoVerificado, nb::arg("campo") = "Identificação",
                                          nb::arg("status") = "nao_verificado",
                                          nb::arg("mensagem") = "Signatário não identificado"));
            problemas.append("Signatário não identificado");
            out.append(checker_ns.call(names::AssinaturaVerificada, nb::arg("nome_signatario") = "(não identificado)",
                                       nb::arg("tipo_assinatura") = assinatura.attr("tipo_assinatura"),
                                       nb::arg("campos") = campos, nb::arg("problemas") = problemas));
            continue;
        }
        log_line(self, join_text("Verificando: ", nome), "👤");

        nb::object cnpj_empresa = assinatura.attr("cnpj_empresa");
        nb::object empresa = assinatura.attr("empresa_representada");
        nb::object dados = nb::none();
        if (truth(cnpj_empresa)) dados = cache_get(cache, checker_ns.call(names::limpar_cnpj, cnpj_empresa));
        if (!truth(dados) && truth(empresa)) dados = cache_get(cache, self.attr("_normalizar_texto")(empresa));
        if (corroborate) {
            out.append(corroborated_signature(self, assinatura, nome, dados, cache));
            continue;
        }

        qsa.set_name(nome);
        bool tem_poder = false;
        nb::object qualificacao = nb::none();
        if (truth(dados)) {
            std::tie(tem_poder, qualificacao) = qsa.run(dados);
        } else {
            // Every cached record, in insertion order; Python's own iteration,
            // so a cache changed during the scan fails as a dict would.  A
            // record cached under two keys gives the same answer twice: the
            // C++ search looks at it once.
            qsa.start_scan();
            for (nb::handle record : cache.attr("values")()) {
                if (qsa.seen_in_scan(record)) continue;
                std::tie(tem_poder, qualificacao) = qsa.run(record);
                if (tem_poder) {
                    dados = nb::borrow(record);
                    break;
                }
            }
        }

        nb::list campos, problemas;
        if (tem_poder) {
            const bool has_q = truth(qualificacao);
            campos.append(campo("Poder de Assinatura", "aprovado", nome,
                                has_q ? qualificacao : nb::object(nb::str("Encontrado no QSA")),
                                join_text("Signatário tem poder (", has_q ? qualificacao : nb::object(nb::str("Sócio/Admin")),
                                       ")")));
            log_line(self, join_text("✅ ", nome, " TEM PODER (", qualificacao, ")"), "");
        } else if (truth(dados)) {
            campos.append(campo("Poder de Assinatura", "reprovado", nome, qsa_summary(dados),
                                nb::str("Signatário NÃO encontrado no QSA")));
            problemas.append("Signatário sem poder de assinatura");
            log_line(self, join_text("❌ ", nome, " NÃO TEM PODER"), "");
        } else {
            campos.append(checker_ns.call(names::CampoVerificado, nb::arg("campo") = "Poder de Assinatura",
                                          nb::arg("status") = "pendente", nb::arg("valor_contrato") = nome,
                                          nb::arg("mensagem") = "Não foi possível verificar"));
            log_line(self, join_text("⚠️ ", nome, " - não foi possível verificar"), "");
        }
        out.append(checker_ns.call(
            names::AssinaturaVerificada, nb::arg("nome_signatario") = nome, nb::arg("cargo") = assinatura.attr("cargo"),
            nb::arg("empresa_representada") = empresa, nb::arg("cnpj_empresa") = cnpj_empresa,
            nb::arg("tipo_assinatura") = assinatura.attr("tipo_assinatura"), nb::arg("campos") = campos,
            nb::arg("tem_poder_assinatura") = tem_poder, nb::arg("qualificacao_qsa") = qualificacao,
            nb::arg("problemas") = problemas));
    }
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
    // Kept for the process: the class lives as long as the module.
    g_own_comparar = _PyType_Lookup(reinterpret_cast<PyTypeObject*>(cls.ptr()), kComparar.get());
    g_own_verificar = _PyType_Lookup(reinterpret_cast<PyTypeObject*>(cls.ptr()), kVerificar.get());
}
