// quillon.contract.countries.br.keywords: is this text a contract?
//
// The three tables are module attributes read at every call.  While they are
// still the lists the module made, holding the entries it put there, the
// screening uses the automaton built once in the core; a replaced or edited
// table is folded and searched afresh, with the same results.
#include <cstring>
#include <string>
#include <vector>

#include "quillon/keywords.hpp"
#include "quillon/text.hpp"
#include "keywords/parts.hpp"

using namespace quillon::bind;
namespace keywords = quillon::keywords;
namespace text = quillon::text;

namespace {

constexpr Name kValidacaoName{"KEYWORDS_VALIDACAO"};
constexpr Name kExclusaoName{"KEYWORDS_EXCLUSAO"};
constexpr Name kMinName{"MIN_KEYWORDS"};
constexpr const char* kValidarName = "validar_documento_contrato";

constexpr const char* kDocNormalizar = "Normaliza texto removendo acentos e convertendo para minúsculas.";
constexpr const char* kDocValidar =
    "Valida se o texto é um contrato pela contagem de keywords.\n"
    "\n"
    "Returns:\n"
    "    Tuple[bool, int, list]:\n"
    "        - bool: Se é um contrato válido\n"
    "        - int: Quantidade de keywords encontradas\n"
    "        - list: Keywords encontradas";

// A table as the module made it: the list object and a tuple of the entries
// it held.  Strong references, kept for the process, so that neither address
// can be reused by another object.
struct OwnTable {
    PyObject* list = nullptr;
    PyObject* entries = nullptr;

    template <class Strings>
    void make(const Strings& table) {
        list = as_list(table).release().ptr();
        entries = items_of(list).release().ptr();
    }

    // Still the module's list, with the same entries in the same order (a
    // caller may have replaced the attribute or edited the list in place).
    bool holds(nb::handle current) const {
        if (current.ptr() != list || PyList_GET_SIZE(list) != PyTuple_GET_SIZE(entries)) return false;
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(entries); ++i)
            if (PyList_GET_ITEM(list, i) != PyTuple_GET_ITEM(entries, i)) return false;
        return true;
    }
};

OwnTable own_validacao;
OwnTable own_exclusao;

// The fold of a str into a new str.  8-bit text folds code unit by code unit
// straight into the new string's buffer.
nb::object fold_str(PyObject* s) {
    const auto n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(s));
    if (n == 0) return nb::str("");
    if (PyUnicode_KIND(s) == PyUnicode_1BYTE_KIND) {
        const Py_UCS1* data = PyUnicode_1BYTE_DATA(s);
        if (PyUnicode_IS_ASCII(s)) {
            nb::object out = owned(PyUnicode_New(static_cast<Py_ssize_t>(n), 127));
            // `out` is not shared yet: it may be written without the GIL.
            unlocked_if_long(n, [&] { text::fold_ascii(data, n, PyUnicode_1BYTE_DATA(out.ptr())); });
            return out;
        }
        nb::object out = owned(PyUnicode_New(static_cast<Py_ssize_t>(n), 255));
        Py_UCS1* w = PyUnicode_1BYTE_DATA(out.ptr());
        if (unlocked_if_long(n, [&] { return text::fold_latin1(data, n, w); })) return out;
        // Accents gone, nothing above U+007F left: a str must be stored in the
        // narrowest form its code points allow, so copy into an ASCII one.
        nb::object ascii = owned(PyUnicode_New(static_cast<Py_ssize_t>(n), 127));
        std::memcpy(PyUnicode_1BYTE_DATA(ascii.ptr()), w, n);
        return ascii;
    }
    std::u32string folded;
    with_code_units(s, [&](const auto* data, std::size_t len) {
        unlocked_if_long(len, [&] { text::fold_append(data, len, folded); });
    });
    return make_str(folded);
}

keywords::KeywordVerdict screen(const keywords::KeywordScreen& screener, PyObject* s) {
    return with_code_units(s, [&](const auto* data, std::size_t n) {
        return unlocked_if_long(n, [&] { return screener.screen(data, n); });
    });
}

nb::object normalizar_texto(nb::handle texto_arg) {
    PyObject* s = text_arg(texto_arg, "normalizar_texto", "texto");
    return fold_str(s);
}

nb::tuple validar_documento_contrato(nb::handle texto_arg) {
    PyObject* s = text_arg(texto_arg, "validar_documento_contrato", "texto");
    if (PyUnicode_GET_LENGTH(s) == 0) return nb::make_tuple(false, 0, nb::list());

    // Strong references: the attributes may be rebound while the GIL is free.
    nb::object exclusao = keywords_ns.get(kExclusaoName);
    nb::object validacao = keywords_ns.get(kValidacaoName);
    keywords::KeywordVerdict verdict;
    nb::tuple exclusion_entries, validation_entries;  // what the verdict's indices point into
    if (own_exclusao.holds(exclusao) && own_validacao.holds(validacao)) {
        verdict = screen(keywords::default_keyword_screen(), s);
        exclusion_entries = nb::borrow<nb::tuple>(own_exclusao.entries);
        validation_entries = nb::borrow<nb::tuple>(own_validacao.entries);
    } else {
        std::vector<std::u32string> exclusion, validation;
        exclusion_entries = str_entries(exclusao, kValidarName, kExclusaoName.text(), exclusion);
        validation_entries = str_entries(validacao, kValidarName, kValidacaoName.text(), validation);
        verdict = screen(keywords::KeywordScreen(exclusion, validation), s);
    }

    if (verdict.excluded()) {
        nb::str prefix = make_str(keywords::kExclusionPrefix.data(), keywords::kExclusionPrefix.size());
        nb::list found;
        found.append(owned(PyUnicode_Concat(prefix.ptr(), exclusion_entries[verdict.exclusion].ptr())));
        return nb::make_tuple(false, 0, found);
    }
    nb::list found;
    for (std::size_t i : verdict.validation) found.append(validation_entries[i]);
    const std::size_t quantidade = verdict.validation.size();
    // quantidade >= MIN_KEYWORDS, as Python compares them.
    bool eh_contrato = nb::int_(quantidade) >= keywords_ns.get(kMinName);
    return nb::make_tuple(eh_contrato, quantidade, found);
}

}  // namespace

namespace quillon::bind {
ModuleNamespace keywords_ns;
}  // namespace quillon::bind

NB_MODULE(keywords, m) {
    keywords_ns.attach(m);
    m.doc() = "Keywords para validação de documentos como contratos.";
    bind_logger(keywords_ns);

    own_validacao.make(keywords::kValidacao);
    own_exclusao.make(keywords::kExclusao);
    keywords_ns.set(kValidacaoName.text(), own_validacao.list);
    keywords_ns.set(kExclusaoName.text(), own_exclusao.list);
    keywords_ns.set(kMinName.text(), nb::int_(keywords::kMinKeywords));
    keywords::default_keyword_screen();  // built now rather than on the first call

    m.def("normalizar_texto", &normalizar_texto, param("texto"), nb::sig("def normalizar_texto(texto: str) -> str"),
          kDocNormalizar);
    m.def("validar_documento_contrato", &validar_documento_contrato, param("texto"),
          nb::sig("def validar_documento_contrato(texto: str) -> tuple[bool, int, list[str]]"), kDocValidar);

    register_screening(m);

    keywords_ns.set_all({"KEYWORDS_VALIDACAO", "KEYWORDS_EXCLUSAO", "MIN_KEYWORDS", "normalizar_texto",
                "validar_documento_contrato", "triar_documento", "TRIAGEM_EXCLUSAO", "TRIAGEM_TITULOS",
                "TRIAGEM_OUTROS", "TRIAGEM_PARTES", "TRIAGEM_QUALIFICACAO", "TRIAGEM_CABECALHO"});
}
