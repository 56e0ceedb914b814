// quillon.contract.countries.br.cnpj: Brazilian company identifiers (CNPJ),
// registry lookups and address comparison.  Each part registers its
// functions from its own file.
#include "cnpj/parts.hpp"

ModuleNamespace cnpj_ns;

namespace {

constexpr const char* kModuleDoc =
    "CNPJ: limpeza, dígitos verificadores, formatação e consultas ao cadastro da Receita Federal.\n"
    "\n"
    "A CNPJ is held as text.  Its clean form keeps the decimal digits of the input\n"
    "(any script, in order) and drops everything else; its formatted form is\n"
    "XX.XXX.XXX/XXXX-DD.  The two check digits follow the mod-11 rule with the\n"
    "weights 5,4,3,2,9,8,7,6,5,4,3,2 and 6,5,4,3,2,9,8,7,6,5,4,3,2.\n";

}  // namespace

NB_MODULE(cnpj, m) {
    cnpj_ns.attach(m);
    m.doc() = kModuleDoc;
    bind_logger(cnpj_ns);

    register_identifier(m);

    cnpj_ns.set_all({"limpar_cnpj", "validar_cnpj", "formatar_cnpj", "consultar_cnpj", "buscar_cnpj_por_nome",
                     "buscar_empresa", "buscar_empresa_completo", "comparar_enderecos"});
}
