// quillon.contract.countries.br.cnpj: Brazilian company identifiers (CNPJ),
// registry lookups and address comparison.  Each part registers its
// functions from its own file.
#include "cnpj/parts.hpp"

ModuleNamespace cnpj_ns;

namespace {

constexpr const char* kModuleDoc =
    "CNPJ: limpeza, dígitos verificadores, formatação e consultas ao cadastro da Receita Federal.\n"
    "\n"
    "A CNPJ is held as text: twelve base characters and two check digits, formatted\n"
    "XX.XXX.XXX/XXXX-DD.  The check digits follow the mod-11 rule with the weights\n"
    "5,4,3,2,9,8,7,6,5,4,3,2 and 6,5,4,3,2,9,8,7,6,5,4,3,2.\n"
    "\n"
    "Numeric CNPJs: the clean form keeps the decimal digits of the input (any\n"
    "script, in order) and drops everything else.\n"
    "\n"
    "Alphanumeric CNPJs (issued since July 2026, IN RFB 2.229/2024): the twelve base\n"
    "positions may hold the letters A-Z, valued at their ASCII code minus 48\n"
    "(A = 17 ... Z = 42); the check digits stay numeric.  An input is read as one\n"
    "only when, trimmed of white space, it has exactly the shape of a CNPJ (masked\n"
    "or fourteen characters unmasked), with at least one letter among the first\n"
    "twelve and two digits at the end; its clean form is then those fourteen\n"
    "characters upper-cased.  Any other input is cleaned to its digits, so a label\n"
    "around an alphanumeric CNPJ (\"CNPJ: 12.ABC.345/01DE-35\") leaves only its\n"
    "digits, which do not validate: pass the CNPJ alone.\n";

}  // namespace

NB_MODULE(cnpj, m) {
    cnpj_ns.attach(m);
    m.doc() = kModuleDoc;
    bind_logger(cnpj_ns);
    // Imported on first use: loading the module stays cheap.
    cnpj_ns.lazy_module("requests", "requests");

    register_identifier(m);
    register_company_record(m);
    register_lookup(m);
    register_search(m);
    register_address(m);

    cnpj_ns.set_all({"limpar_cnpj", "validar_cnpj", "formatar_cnpj", "consultar_cnpj", "buscar_cnpj_por_nome",
                     "buscar_empresa", "buscar_empresa_completo", "comparar_enderecos"});
}
