// triar_documento: the document screen of the engine's pre-check and of
// `quillon triagem`, over the core's screening::DocumentScreen.  Its tables are
// module attributes read at every call, like the keyword tables.
#include <string>
#include <vector>

#include "quillon/screening.hpp"
#include "keywords/parts.hpp"

using namespace quillon::bind;
namespace screening = quillon::screening;

namespace {

constexpr const char* kFn = "triar_documento";

constexpr const char* kDoc =
    "Triagem de um documento inteiro: é um contrato?\n"
    "\n"
    "O cabeçalho (os primeiros TRIAGEM_CABECALHO caracteres da primeira página com\n"
    "texto) diz o que o documento é: a primeira linha de título que declara um tipo\n"
    "decide, seja um título de contrato (TRIAGEM_TITULOS), seja o de outro documento\n"
    "(TRIAGEM_OUTROS: termo de referência, parecer, proposta...).  Sem título, um\n"
    "termo de exclusão no cabeçalho (TRIAGEM_EXCLUSAO) recusa o documento, e os\n"
    "demais só são contratos se nomeiam as duas partes nas primeiras páginas\n"
    "(TRIAGEM_PARTES) e as qualificam como um preâmbulo (TRIAGEM_QUALIFICACAO).  O\n"
    "vocabulário de contratos (KEYWORDS_VALIDACAO) conta no texto todo e precisa\n"
    "somar MIN_KEYWORDS termos.\n"
    "\n"
    "Args:\n"
    "    paginas: o texto das páginas, em ordem (uma lista), ou um texto só\n"
    "        (páginas separadas por \\f)\n"
    "\n"
    "Returns:\n"
    "    dict: eh_contrato, motivo ('titulo', 'termos', 'exclusao',\n"
    "    'poucos_termos', 'sem_partes', 'vazio'), quantidade, keywords, exclusao\n"
    "    (o título de outro documento ou o termo de exclusão que decidiu), titulo,\n"
    "    definitivo (as páginas que viessem depois destas não mudariam eh_contrato:\n"
    "    quem lê as páginas em ordem pode parar aqui)";

// The attributes are read with find(), which holds the current value (reading
// a table runs Python code, its __iter__ or __index__, which may rebind or
// delete the attribute meanwhile) and gives an invalid object when it is missing.

// A table attribute: a snapshot of its entries, each a str.
std::vector<std::u32string> table(const char* name, const std::vector<std::u32string>& fallback) {
    nb::object value = keywords_ns.find(name);
    if (!value.is_valid()) return fallback;
    std::vector<std::u32string> out;
    str_entries(value, kFn, name, out);
    return out;
}

// A table of pairs: each entry a 2-item sequence of str.
std::vector<std::pair<std::u32string, std::u32string>> pair_table(
    const char* name, const std::vector<std::pair<std::u32string, std::u32string>>& fallback) {
    nb::object value = keywords_ns.find(name);
    if (!value.is_valid()) return fallback;
    std::vector<std::pair<std::u32string, std::u32string>> out;
    for (nb::handle e : items_of(value)) {
        nb::object pair = nb::steal(PySequence_Tuple(e.ptr()));
        if (!pair.is_valid()) PyErr_Clear();
        if (!pair.is_valid() || PyTuple_GET_SIZE(pair.ptr()) != 2 || !PyUnicode_Check(PyTuple_GET_ITEM(pair.ptr(), 0)) ||
            !PyUnicode_Check(PyTuple_GET_ITEM(pair.ptr(), 1)))
            raise_error(PyExc_TypeError, "%s(): %s entries must be pairs of str, not %.200s", kFn, name,
                        Py_TYPE(e.ptr())->tp_name);
        out.emplace_back(u32_of(PyTuple_GET_ITEM(pair.ptr(), 0)), u32_of(PyTuple_GET_ITEM(pair.ptr(), 1)));
    }
    return out;
}

// A count attribute; a number beyond the range of a count is held at its end
// (a minimum of 10**30 terms is never reached, as in Python).
std::size_t count(const char* name, std::size_t fallback) {
    nb::object value = keywords_ns.find(name);
    if (!value.is_valid()) return fallback;
    long long n = integer_arg_saturated(value, kFn, name);
    return n < 0 ? 0 : static_cast<std::size_t>(n);
}

// The pages given: a list of str, or one str (pages separated by form feeds).
std::vector<std::u32string> page_texts(nb::handle paginas) {
    std::vector<std::u32string> pages;
    if (PyUnicode_Check(paginas.ptr())) {
        std::u32string whole = u32_of(paginas);
        for (std::u32string_view page : screening::split_pages(whole)) pages.emplace_back(page);
        return pages;
    }
    nb::object items = nb::steal(PySequence_Fast(paginas.ptr(), ""));
    if (!items.is_valid()) {
        PyErr_Clear();
        raise_wrong_type(kFn, "paginas", "str or list of str", paginas);
    }
    for (nb::handle page : items) {
        if (!PyUnicode_Check(page.ptr())) raise_wrong_type(kFn, "paginas", "str or list of str", page);
        pages.push_back(u32_of(page));
    }
    return pages;
}

// The tables the module's attributes hold now; a missing attribute is the built-in table.
screening::Tables module_tables() {
    const screening::Tables& defaults = screening::default_tables();
    screening::Tables tables;
    tables.contract_terms = table("KEYWORDS_VALIDACAO", defaults.contract_terms);
    tables.exclusion_terms = table("TRIAGEM_EXCLUSAO", defaults.exclusion_terms);
    tables.title_starts = table("TRIAGEM_TITULOS", defaults.title_starts);
    tables.other_titles = table("TRIAGEM_OUTROS", defaults.other_titles);
    tables.party_pairs = pair_table("TRIAGEM_PARTES", defaults.party_pairs);
    tables.qualification_terms = table("TRIAGEM_QUALIFICACAO", defaults.qualification_terms);
    tables.min_terms = count("MIN_KEYWORDS", defaults.min_terms);
    tables.heading_chars = count("TRIAGEM_CABECALHO", defaults.heading_chars);
    return tables;
}

nb::dict verdict_dict(const screening::DocumentScreen& screen, const screening::DocumentVerdict& v) {
    nb::dict out;
    out["eh_contrato"] = nb::bool_(v.contract);
    out["motivo"] = nb::str(screening::reason_name(v.reason));
    out["quantidade"] = nb::int_(v.terms_found.size());
    nb::list found;
    for (std::size_t i : v.terms_found) found.append(make_str(screen.tables().contract_terms[i]));
    out["keywords"] = found;
    const std::u32string* excluding = screen.excluding_entry(v);
    out["exclusao"] = excluding ? nb::object(make_str(*excluding)) : nb::object(nb::none());
    out["titulo"] = v.title.empty() ? nb::object(nb::none()) : nb::object(make_str(v.title));
    out["definitivo"] = nb::bool_(v.settled);
    return out;
}

nb::dict triar_documento(nb::handle paginas) {
    std::vector<std::u32string> pages = page_texts(paginas);  // before the tables, whose reading runs Python code
    const screening::DocumentScreen screen(module_tables());
    std::vector<std::u32string_view> views(pages.begin(), pages.end());
    std::size_t total = 0;
    for (const auto& p : pages) total += p.size();
    return verdict_dict(screen, unlocked_if_long(total, [&] { return screen.screen(views); }));
}

}  // namespace

void register_screening(nb::module_& m) {
    const screening::Tables& t = screening::default_tables();
    m.attr("TRIAGEM_EXCLUSAO") = as_list(t.exclusion_terms);
    m.attr("TRIAGEM_TITULOS") = as_list(t.title_starts);
    m.attr("TRIAGEM_OUTROS") = as_list(t.other_titles);
    nb::list pairs;
    for (const auto& [a, b] : t.party_pairs) pairs.append(nb::make_tuple(make_str(a), make_str(b)));
    m.attr("TRIAGEM_PARTES") = pairs;
    m.attr("TRIAGEM_QUALIFICACAO") = as_list(t.qualification_terms);
    m.attr("TRIAGEM_CABECALHO") = nb::int_(t.heading_chars);
    m.def("triar_documento", &triar_documento, param("paginas"),
          nb::sig("def triar_documento(paginas: str | list[str]) -> dict[str, typing.Any]"), kDoc);
}
