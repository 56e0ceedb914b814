// State registrations (IE) of a company, from the CNPJá office resource.
//
// One request returns the registrations of every state; each becomes a record
// of six keys (uf, numero, tipo, ativa, situacao, data_situacao) inside the
// result record (cnpj, fonte, inscricoes_estaduais).  Every failure of the
// service gives None and, except a 404 (company unknown), a warning.  The
// credential comes from the environment at each call and never reaches a log
// line: error texts are scrubbed of it before they are logged.
#include "ie/parts.hpp"

#include "toolkit/service_request.hpp"

namespace services = quillon::company_services;

namespace {

constexpr Name kLimparCnpj{"limpar_cnpj"}, kValidarCnpj{"validar_cnpj"}, kFormatarCnpj{"formatar_cnpj"},
    kNormalizeRegistration{"_normalize_registration"}, kOs{"os"}, kEnvApiKey{"ENV_API_KEY"},
    kDefaultRegistrationsScope{"DEFAULT_REGISTRATIONS_SCOPE"};
constexpr const services::Service& kCnpja = services::service(services::ServiceId::kCnpja);

// The `text` of the object in a member ({"id": ..., "text": ...}), or
// `dflt` when the member is absent, null or empty.
nb::object object_text(nb::handle reg, const char* member, nb::handle dflt) {
    nb::object obj = field(reg, member, Py_None);
    if (!truth(obj)) return nb::borrow(dflt);
    if (!PyDict_Check(obj.ptr()))
        raise_error(PyExc_TypeError, "registration member '%s' must be an object, not %.200s", member,
                    Py_TYPE(obj.ptr())->tp_name);
    return field(obj, "text", dflt);
}

// The state-registration record of a CNPJá registration, by the core's layout.
nb::dict normalize_registration(nb::handle reg_arg) {
    nb::dict reg = dict_arg(reg_arg, "_normalize_registration", "reg");
    nb::dict out;
    for (const services::RegistrationField& f : services::kRegistration) {
        nb::object fallback = f.fallback ? nb::object(nb::str(f.fallback)) : nb::none();
        nb::object value = f.source == services::RegistrationSource::kFlag
                               ? nb::bool_(truth(field(reg, f.member, Py_False)))
                           : f.source == services::RegistrationSource::kMember
                               ? field(reg, f.member, fallback)
                               : object_text(reg, f.member, f.falsy_falls_back ? nb::none() : fallback);
        out[f.key] = f.falsy_falls_back && !truth(value) ? fallback : value;
    }
    return out;
}

// logger.warning(fmt, *args); gives an invalid object: no result.
template <class... Args>
nb::object warned(const char* fmt, Args&&... args) {
    log_warning(ie_ns, fmt, std::forward<Args>(args)...);
    return {};
}

// A failed request logged (`fmt` % (cnpj_limpo, error text)), the error's
// text scrubbed of the credential by the package's one rule for error texts
// (quillon.redaction.scrub), so this module and the model providers hide a key
// the same way.
nb::object failed(const char* fmt, nb::handle cnpj_limpo, nb::handle error, nb::handle api_key) {
    return warned(fmt, cnpj_limpo, nb::module_::import_("quillon.redaction").attr("scrub")(nb::str(error), api_key));
}

// A warning about an answer that is JSON but not of the documented shape.
template <class... Args>
nb::object unexpected_answer(nb::handle cnpj_limpo, const char* description, Args&&... args) {
    return warned("CNPJá returned unexpected JSON for %s: %s", cnpj_limpo,
                  nb::str(description).format(std::forward<Args>(args)...));
}

nb::str kind_of(nb::handle h) { return nb::str(Py_TYPE(h.ptr())->tp_name); }

// The key from the environment, or an invalid object (logged) when it is
// missing or cannot be sent.
nb::object api_key_for(nb::handle cnpj_arg) {
    nb::object env_name = ie_ns.get(kEnvApiKey);
    nb::object api_key = ie_ns.get(kOs).attr("environ").attr("get")(env_name);
    if (!truth(api_key)) return warned("%s not set; skipping CNPJá IE lookup", env_name);
    // An HTTP header carries Latin-1 only: a key beyond it cannot be sent (the
    // transport would fail with an encoding error, outside the request-error
    // family), so the request fails here, as a request that could not be made.
    if (PyUnicode_Check(api_key.ptr()) && PyUnicode_MAX_CHAR_VALUE(api_key.ptr()) > 0xFF)
        return warned(services::failed_format(kCnpja).c_str(), ie_ns.call(kLimparCnpj, cnpj_arg),
                      nb::str("{} holds characters an HTTP header cannot carry (Latin-1 only)").format(env_name));
    return api_key;
}

// The decoded answer of the office resource, or an invalid object (logged
// unless the company is unknown, a 404).  Errors of the request-error family
// are failed requests; any failure to decode the body (invalid JSON or UTF-8,
// nesting too deep for the decoder) is a body that is not JSON to us.
nb::object fetch_office(nb::handle cnpj_limpo, nb::handle api_key) {
    nb::dict headers;
    headers["Authorization"] = api_key;  // the whole value, no scheme
    ServiceRequest request = service_request(ie_ns, kCnpja, cnpj_limpo, nb::none(), headers);
    request.options["params"] =
        owned(Py_BuildValue("{s:O}", "registrations", ie_ns.get(kDefaultRegistrationsScope).ptr()));
    nb::object response;
    try {
        response = send(ie_ns, request.method, request.url, request.options);
    } catch (nb::python_error& e) {
        nb::object family = ie_ns.get(kRequestsName).attr("RequestException");
        if (!e.matches(family)) throw;
        return failed(services::failed_format(kCnpja).c_str(), cnpj_limpo, e.value(), api_key);
    }
    nb::object status = response.attr("status_code");
    if (status.equal(nb::int_(404))) return {};
    if (!status.equal(nb::int_(200))) return warned("CNPJá returned HTTP %s for %s", status, cnpj_limpo);
    nb::object data;
    nb::object error = catch_exception([&] { data = decode_json(response); });
    return error.is_valid() ? failed("CNPJá returned non-JSON for %s: %s", cnpj_limpo, error, api_key) : data;
}

// The registration records of the answer, or an invalid object (logged) when
// it is not of the documented shape.
nb::object registrations_of(nb::handle cnpj_limpo, nb::object data) {
    if (!truth(data)) data = nb::dict();
    if (!PyDict_Check(data.ptr()))
        return unexpected_answer(cnpj_limpo, "expected an object, got {}", kind_of(data));
    nb::object registrations = field(data, "registrations", Py_None);
    if (!truth(registrations)) registrations = nb::list();
    if (!PyList_Check(registrations.ptr()))
        return unexpected_answer(cnpj_limpo, "'registrations' is not a list but {}", kind_of(registrations));
    nb::list inscricoes;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(registrations.ptr()); ++i) {
        nb::object reg = nb::borrow(PyList_GET_ITEM(registrations.ptr(), i));
        if (!PyDict_Check(reg.ptr()))
            return unexpected_answer(cnpj_limpo, "registration {} is not an object but {}", i, kind_of(reg));
        try {
            inscricoes.append(ie_ns.call(kNormalizeRegistration, reg));
        } catch (nb::python_error& e) {
            // A `type` or `status` that is no object.
            if (!e.matches(PyExc_TypeError)) throw;
            return unexpected_answer(cnpj_limpo, "registration {}: {}", i, nb::str(e.value()));
        }
    }
    return inscricoes;
}

nb::object buscar_ie_por_cnpj(nb::handle cnpj_arg) {
    text_arg(cnpj_arg, "buscar_ie_por_cnpj", "cnpj");
    if (!truth(ie_ns.call(kValidarCnpj, cnpj_arg))) return nb::none();
    nb::object api_key = api_key_for(cnpj_arg);
    if (!api_key.is_valid()) return nb::none();
    nb::object cnpj_limpo = ie_ns.call(kLimparCnpj, cnpj_arg);
    nb::object data = fetch_office(cnpj_limpo, api_key);
    if (!data.is_valid()) return nb::none();
    nb::object inscricoes = registrations_of(cnpj_limpo, data);
    if (!inscricoes.is_valid()) return nb::none();
    nb::object cnpj = ie_ns.call(kFormatarCnpj, cnpj_limpo);
    return owned(Py_BuildValue("{s:O,s:s,s:O}", "cnpj", cnpj.ptr(), "fonte", kCnpja.name, "inscricoes_estaduais",
                               inscricoes.ptr()));
}

}  // namespace

void register_registrations(nb::module_& m) {
    ie_ns.set(kCnpja.url_constant, nb::str(kCnpja.default_url));
    ie_ns.set("REQUEST_TIMEOUT", nb::int_(services::kRequestTimeout));
    ie_ns.set("ENV_API_KEY", nb::str("CNPJA_API_KEY"));
    ie_ns.set("DEFAULT_REGISTRATIONS_SCOPE", nb::str("BR"));

    m.def("buscar_ie_por_cnpj", &buscar_ie_por_cnpj, param("cnpj"),
          nb::sig("def buscar_ie_por_cnpj(cnpj: str) -> dict[str, typing.Any] | None"),
          "Busca as inscrições estaduais (IE) de uma empresa pelo CNPJ no serviço CNPJá.\n"
          "\n"
          "Requer a variável de ambiente CNPJA_API_KEY. Retorna {\"cnpj\", \"fonte\",\n"
          "\"inscricoes_estaduais\"} ou None quando o CNPJ é inválido, a chave não está\n"
          "definida, a consulta falha ou a empresa não é encontrada.");
    m.def("_normalize_registration", &normalize_registration, param("reg"),
          nb::sig("def _normalize_registration(reg: dict[str, typing.Any]) -> dict[str, typing.Any]"),
          "Converte um item de \"registrations\" do CNPJá no registro de inscrição estadual\n"
          "(uf, numero, tipo, ativa, situacao, data_situacao).");
}
