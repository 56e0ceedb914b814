// What the files of the checker module share.
//
// ContractChecker keeps its state in the instance dictionary (adapter,
// verbose, model, usar_ai_search, _auth, _client, _quillon_available), so a
// host reads and writes it like any Python object, and its operations call one
// another through attribute look-ups on the instance: patching a method on
// the instance or on the class takes effect.  Load-time names (host models,
// get_adapter, the CNPJ functions) are module attributes read at each call.
// The rules are quillon/checker.hpp's: these files convert and print.
#pragma once

#include <nanobind/nanobind.h>

#include <string>

#include "quillon/checker.hpp"
#include "quillon/names.hpp"
#include "toolkit/remote.hpp"
#include "toolkit/toolkit.hpp"

namespace nb = nanobind;
using namespace quillon::bind;
namespace rules = quillon::checker;

extern ModuleNamespace checker_ns;

// The C++ side of a ContractChecker: what its last verification left for
// the caller (relatorio(), ultima_extracao); the instance dictionary holds
// the rest.
struct ContractChecker {
    nb::object ultima_extracao;  // the engine's result
    nb::object relatorio;        // _imprimir_relatorio's arguments (a dict)
};

// Interned names of module attributes.
namespace names {
inline constexpr Name get_adapter{"get_adapter"};
inline constexpr Name QuillonAuth{"QuillonAuth"};
inline constexpr Name EmpresaExtraida{"EmpresaExtraida"};
inline constexpr Name AssinaturaExtraida{"AssinaturaExtraida"};
inline constexpr Name CampoVerificado{"CampoVerificado"};
inline constexpr Name EmpresaVerificada{"EmpresaVerificada"};
inline constexpr Name AssinaturaVerificada{"AssinaturaVerificada"};
inline constexpr Name limpar_cnpj{"limpar_cnpj"};
inline constexpr Name formatar_cnpj{"formatar_cnpj"};
inline constexpr Name comparar_enderecos{"comparar_enderecos"};
inline constexpr Name ContractChecker{"ContractChecker"};
inline constexpr Name RegistryUnavailableError{"RegistryUnavailableError"};
}  // namespace names

// self._log(message, emoji): every progress line goes through the instance.
void log_line(nb::handle self, const std::string& message, const char* emoji = "");

// print(text) through Python's print, so redirection and capture see it.
void print_line(const std::string& text);

// str(value), and str(value) as UTF-8 (lone surrogates kept, as in the str).
std::string utf8(nb::handle value);
// A rule's text for a host value: None stays none, anything else is str(value).
rules::Text text_of(nb::handle value);
// A str (not checked) as a name prepared for comparisons.
quillon::names::Prepared prepared_name(nb::handle s);
// A value shown only when truthy: text_of() of a falsy value is none.
inline rules::Text shown(nb::handle value) { return truth(value) ? text_of(value) : std::nullopt; }
// The host value of a rule's text (None when it has none).
nb::object py(const rules::Text& text);
nb::str py(const std::string& text);

// Truth value of getattr(obj, name).
inline bool attr_truth(nb::handle obj, const char* name) { return truth(obj.attr(name)); }

// format(value, spec), as an f-string writes it.
nb::str formatted(nb::handle value, const char* spec);


// dict(mapping), as f(**mapping) receives it.
nb::dict keywords(nb::handle mapping);

// The tuple of a hook's answer, of exactly `n` items.
nb::tuple unpack(nb::handle value, std::size_t n, const char* what);

// [CampoVerificado(**field)] (through the module attribute) and [str] lists.
nb::list campo_models(const std::vector<rules::Field>& fields);
nb::list str_list(const std::vector<std::string>& texts);
// AssinaturaVerificada of an identified signatory with its power field `s`
// (logged once the field is made), the record's `evidencia` when corroborated.
nb::object signature_model(nb::handle self, nb::handle assinatura, nb::handle nome, const rules::SignatureFields& s,
                           bool tem_poder, nb::handle qualificacao, const std::string* evidencia = nullptr);

// "QSA: A, B, C..." from the first three partner names of a record, or "QSA vazio".
std::string qsa_summary(nb::handle dados);

extern PyTypeObject* g_checker_type;  // ContractChecker, kept by its module

// Signature validation with corroboration (self.corroborar_assinaturas) for
// one identified signatory whose represented company's record, if any, is
// `dados` (corroboration.cpp).
nb::object corroborated_signature(nb::handle self, nb::handle assinatura, nb::handle nome, nb::object dados,
                                  nb::handle cache);

void register_setup(nb::class_<ContractChecker>& cls);
void register_workflow(nb::module_& m, nb::class_<ContractChecker>& cls);
void register_companies(nb::class_<ContractChecker>& cls);
void register_signatures(nb::class_<ContractChecker>& cls);
void register_report(nb::class_<ContractChecker>& cls);
