// What the files of the checker module share.
//
// ContractChecker keeps its state in the instance dictionary (adapter,
// verbose, model, usar_ai_search, _auth, _client, _quillon_available), so a
// host reads and writes it like any Python object, and its operations call one
// another through attribute look-ups on the instance: patching a method on
// the instance or on the class takes effect.  Load-time names (host models,
// get_adapter, the CNPJ functions) are module attributes read at each call.
#pragma once

#include <nanobind/nanobind.h>

#include <type_traits>
#include <utility>

#include "toolkit/toolkit.hpp"

namespace nb = nanobind;
using namespace quillon::bind;

extern ModuleNamespace checker_ns;

// The C++ side of a ContractChecker: nothing; the instance dictionary holds it all.
struct ContractChecker {};

// Interned names of module attributes and instance attributes.
namespace names {
inline constexpr Name get_adapter{"get_adapter"};
inline constexpr Name QuillonAuth{"QuillonAuth"};
inline constexpr Name EmpresaExtraida{"EmpresaExtraida"};
inline constexpr Name AssinaturaExtraida{"AssinaturaExtraida"};
inline constexpr Name ExtracaoEmpresas{"ExtracaoEmpresas"};
inline constexpr Name ExtracaoAssinaturas{"ExtracaoAssinaturas"};
inline constexpr Name ExtracaoDadosContrato{"ExtracaoDadosContrato"};
inline constexpr Name CampoVerificado{"CampoVerificado"};
inline constexpr Name EmpresaVerificada{"EmpresaVerificada"};
inline constexpr Name AssinaturaVerificada{"AssinaturaVerificada"};
inline constexpr Name limpar_cnpj{"limpar_cnpj"};
inline constexpr Name formatar_cnpj{"formatar_cnpj"};
inline constexpr Name comparar_enderecos{"comparar_enderecos"};
inline constexpr Name ContractChecker{"ContractChecker"};
inline constexpr Name RegistryUnavailableError{"RegistryUnavailableError"};
}  // namespace names

// self.<name>(args...), looked up on the instance at the moment of the call.
template <class... Args>
nb::object call_method(nb::handle self, const char* name, Args&&... args) {
    return self.attr(name)(std::forward<Args>(args)...);
}

// self._log(message, emoji): every progress line goes through the instance.
void log_line(nb::handle self, nb::handle message, const char* emoji);
void log_line(nb::handle self, const char* message, const char* emoji);

// print(text) through Python's print, so redirection and capture see it.
void print_line(nb::handle text);
void print_line(const char* text);
// print(text, end="") for a line finished by a later print.
void print_partial(nb::handle text);

// str(value)
nb::str to_str(nb::handle value);
// a + b + ... as one str (each piece converted with str()).
template <class... Parts>
nb::str join_text(Parts&&... parts);

// format(value, spec), as an f-string writes it.
nb::str formatted(nb::handle value, const char* spec);

// mapping.get(key, default): dicts directly, other mappings through .get.
nb::object map_get(nb::handle mapping, const char* key, nb::handle fallback);

// Whether a verified company's "CNPJ" field is pending: the registry could
// not be consulted about it (a found company's is approved, a missing one's
// rejected).
bool registry_not_consulted(nb::handle empresa);

// Truth value of getattr(obj, name).
inline bool attr_truth(nb::handle obj, const char* name) { return truth(obj.attr(name)); }

// "QSA: A, B, C..." from the first three partner names of a record, or "QSA vazio".
nb::str qsa_summary(nb::handle dados);

// Whether the checker asks for corroborated signature validation
// (self.corroborar_assinaturas), and that validation for one identified
// signatory whose represented company's record, if any, is `dados`
// (corroboration.cpp).
bool corroborates(nb::handle self);
nb::object corroborated_signature(nb::handle self, nb::handle assinatura, nb::handle nome, nb::object dados,
                                  nb::handle cache);

void register_setup(nb::class_<ContractChecker>& cls);
void register_workflow(nb::module_& m, nb::class_<ContractChecker>& cls);
void register_companies(nb::class_<ContractChecker>& cls);
void register_signatures(nb::class_<ContractChecker>& cls);
void register_report(nb::class_<ContractChecker>& cls);

// --- templates -----------------------------------------------------------
namespace detail {
template <class T>
void append(nb::list& out, T&& v) {
    if constexpr (std::is_convertible_v<T, const char*>) {
        out.append(nb::str(v));
    } else {
        nb::object o = nb::borrow(nb::handle(v));
        out.append(to_str(o));
    }
}
}  // namespace detail

template <class... Parts>
nb::str join_text(Parts&&... parts) {
    nb::list pieces;
    (detail::append(pieces, std::forward<Parts>(parts)), ...);
    PyObject* joined = PyUnicode_Join(nb::str("").ptr(), pieces.ptr());
    if (!joined) throw nb::python_error();
    return nb::steal<nb::str>(joined);
}
