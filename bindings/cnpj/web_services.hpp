// What the web-service parts of the cnpj module share: the module attributes
// they read at call time, the record of a decoded answer and the request of a
// service of the table (quillon/company_services.hpp).
#pragma once

#include "cnpj/parts.hpp"
#include "quillon/company_services.hpp"
#include "toolkit/service_request.hpp"

namespace services = quillon::company_services;

namespace cnpj_names {

inline constexpr Name kLimparCnpj{"limpar_cnpj"}, kValidarCnpj{"validar_cnpj"}, kConsultarCnpj{"consultar_cnpj"},
    kConsultarBrasilApi{"_consultar_brasil_api"}, kConsultarReceitaWs{"_consultar_receita_ws"},
    kBuscarCnpjPorNome{"buscar_cnpj_por_nome"};

}  // namespace cnpj_names

// The company record of a decoded answer (None for a refusal such as
// ReceitaWS's "ERROR"); a ValueError when it does not name the company.
nb::object company_record(const services::RecordLayout& layout, nb::handle data, nb::handle clean);

// A module function bound per record layout: its name, signature and docstring.
struct LayoutFunction {
    const services::RecordLayout* layout;
    const char *name, *sig, *doc;
};
