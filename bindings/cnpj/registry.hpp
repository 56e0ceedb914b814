// What the registry parts of the cnpj module share: the names of the module
// attributes they read at call time and the headers that identify us to the
// public services.
#pragma once

#include "cnpj/parts.hpp"
#include "toolkit/remote.hpp"

namespace cnpj_names {

inline constexpr Name kLimparCnpj{"limpar_cnpj"};
inline constexpr Name kValidarCnpj{"validar_cnpj"};
inline constexpr Name kFormatarCnpj{"formatar_cnpj"};
inline constexpr Name kConsultarCnpj{"consultar_cnpj"};
inline constexpr Name kConsultarBrasilApi{"_consultar_brasil_api"};
inline constexpr Name kConsultarReceitaWs{"_consultar_receita_ws"};
inline constexpr Name kBuscarCnpjPorNome{"buscar_cnpj_por_nome"};

inline constexpr Name kBrasilApiUrl{"BRASIL_API_URL"};
inline constexpr Name kReceitaWsUrl{"RECEITA_WS_URL"};
inline constexpr Name kRequestTimeout{"REQUEST_TIMEOUT"};
inline constexpr Name kCasaDosDadosApi{"CASADOSDADOS_API"};
// The public services turn away anonymous clients (403/429), so every
// request names the package, its version and where to find it.
inline constexpr Name kUserAgent{"USER_AGENT"};

}  // namespace cnpj_names

// The headers a service asks for, then {"User-Agent": USER_AGENT}.
nb::dict service_headers(std::initializer_list<std::pair<const char*, const char*>> fixed);

