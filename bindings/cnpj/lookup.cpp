// Online CNPJ lookup: BrasilAPI first, ReceitaWS as fallback, each answer
// made into the company record (company_record.cpp).  The requests are those
// of the service table (quillon/company_services.hpp), built by
// service_request, which the adapter's paced client uses too (`_requisicao`).
// Here they go through send (remote.hpp): bounded in time and size
// while `requests` is the real one.  Every failure gives None.
#include "cnpj/web_services.hpp"

using namespace cnpj_names;

namespace {

constexpr const char* kProjectAddress = "https://pypi.org/project/quillon/";
// One GET to one service, the answer made into a record; a failure after
// the request is built is logged (logged_failure) and gives None.
nb::object ask(const char* function, const services::RecordLayout& layout, nb::handle cnpj_arg) {
    const services::Service& service = services::service(layout.service);
    nb::object cnpj_limpo = cnpj_ns.call(kLimparCnpj, cnpj_arg);
    ServiceRequest request = service_request(cnpj_ns, service, cnpj_limpo, nb::none());
    return logged_failure(cnpj_ns, services::failed_format(service), services::unexpected_format(function),
                          cnpj_limpo, [&]() -> nb::object {
        nb::object response = send(cnpj_ns, request.method, request.url, request.options);
        if (!response.attr("status_code").equal(nb::int_(200))) return nb::none();
        return company_record(layout, decode_json(response), cnpj_limpo);
    });
}

nb::object consultar_cnpj(nb::handle cnpj_arg) {
    text_arg(cnpj_arg, "consultar_cnpj", "cnpj");
    if (!truth(cnpj_ns.call(kValidarCnpj, cnpj_arg))) return nb::none();
    nb::object record = cnpj_ns.call(kConsultarBrasilApi, cnpj_arg);
    if (truth(record)) return record;
    return cnpj_ns.call(kConsultarReceitaWs, cnpj_arg);
}

// The request of a service of the module's table, for a client that sends it
// itself (the adapter's paced client).
nb::tuple requisicao(nb::handle servico_arg, nb::handle termo_arg, nb::handle uf_arg) {
    PyObject* servico = text_arg(servico_arg, "_requisicao", "servico");
    text_arg(termo_arg, "_requisicao", "termo");
    text_or_none_arg(uf_arg, "_requisicao", "uf");
    for (const services::Service& s : services::kServices) {
        if (s.id == services::ServiceId::kCnpja || PyUnicode_CompareWithASCIIString(servico, s.name) != 0) continue;
        ServiceRequest r = service_request(cnpj_ns, s, termo_arg, uf_arg);
        return nb::make_tuple(nb::str(r.method), r.url, r.options);
    }
    raise_error(PyExc_ValueError, "_requisicao(): unknown service %R", servico);
}

}  // namespace

void register_lookup(nb::module_& m) {
    nb::object version = nb::module_::import_("quillon").attr("__version__");
    cnpj_ns.set("USER_AGENT", nb::str("quillon/{} (+{})").format(version, kProjectAddress));
    for (const services::Service& s : services::kServices)
        if (s.id != services::ServiceId::kCnpja) cnpj_ns.set(s.url_constant, nb::str(s.default_url));
    cnpj_ns.set("REQUEST_TIMEOUT", nb::int_(services::kRequestTimeout));

    m.def("consultar_cnpj", &consultar_cnpj, param("cnpj"),
          nb::sig("def consultar_cnpj(cnpj: str) -> dict[str, typing.Any] | None"),
          "Consulta CNPJ online usando BrasilAPI com fallback para ReceitaWS.");
    cnpj_ns.set("consultar_cnpj_online", cnpj_ns.get(kConsultarCnpj));
    static constexpr LayoutFunction lookups[] = {
        {&services::kBrasilApiRecord, "_consultar_brasil_api",
         "def _consultar_brasil_api(cnpj: str) -> dict[str, typing.Any] | None",
         "Consulta CNPJ na BrasilAPI (fonte principal)."},
        {&services::kReceitaWsRecord, "_consultar_receita_ws",
         "def _consultar_receita_ws(cnpj: str) -> dict[str, typing.Any] | None",
         "Consulta CNPJ na ReceitaWS (fallback)."}};
    for (const LayoutFunction& l : lookups)
        m.def(l.name, [l](nb::handle cnpj) { return ask(l.name, *l.layout, text_arg(cnpj, l.name, "cnpj")); },
              param("cnpj"), nb::sig(l.sig), l.doc);
    m.def("_requisicao", &requisicao, param("servico"), param("termo"), param("uf") = nb::none(),
          nb::sig("def _requisicao(servico: str, termo: str, uf: str | None = None) "
                  "-> tuple[str, str, dict[str, typing.Any]]"),
          "Requisição a um serviço (\"BrasilAPI\", \"ReceitaWS\", \"Casa dos Dados\"): (método, url, opções)\n"
          "de requests.<método>(url, **opções); termo é o CNPJ limpo ou o nome buscado.");
}
