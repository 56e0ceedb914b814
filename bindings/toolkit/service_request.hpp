// The request for a service of the company-services table
// (quillon/company_services.hpp), built from the calling module's attributes
// at call time: its URL constant (the CNPJ put in, in wire form), USER_AGENT,
// its time-out constant.  The cnpj module's lookups and search, the ie module
// and the adapter's paced client (through cnpj._requisicao) all send these.
#pragma once

#include "quillon/company_services.hpp"
#include "toolkit/remote.hpp"

namespace quillon::bind {

// requests.<method>(url, **options).
struct ServiceRequest {
    const char* method;
    nb::object url;
    nb::dict options;
};

// The search body, members in the order the service documents.
inline nb::object search_body(nb::handle nome, nb::handle uf) {
    nb::object query = owned(Py_BuildValue("{s:[O],s:s}", "termo", nome.ptr(), "situacao_cadastral",
                                           company_services::kSearchStatus));
    if (!uf.is_none() && PyUnicode_GET_LENGTH(uf.ptr()) > 0) query["uf"] = owned(Py_BuildValue("[O]", uf.ptr()));
    nb::dict extras;
    for (const char* flag : company_services::kSearchFlags) extras[flag] = false;
    return owned(Py_BuildValue("{s:O,s:{},s:O,s:i}", "query", query.ptr(), "range_query", "extras", extras.ptr(),
                               "page", 1));
}

// `subject` is the clean CNPJ, or the name searched for (`uf`: None or a str);
// `headers` may hold headers of the caller's own (the ie module's key).
inline ServiceRequest service_request(const ModuleNamespace& ns, const company_services::Service& s,
                                      nb::handle subject, nb::handle uf, nb::dict headers = nb::dict()) {
    static constexpr Name kUserAgent{"USER_AGENT"}, kHeaders{"headers"}, kTimeout{"timeout"}, kJson{"json"};
    // The module constants of each service, interned once.
    static const Name url_names[] = {Name(company_services::kServices[0].url_constant),
                                     Name(company_services::kServices[1].url_constant),
                                     Name(company_services::kServices[2].url_constant),
                                     Name(company_services::kServices[3].url_constant)};
    static constexpr Name kRequestTimeout{"REQUEST_TIMEOUT"};
    for (const company_services::Header& h : s.headers)
        if (h.name) headers[h.name] = h.value;
    if (s.identify) headers["User-Agent"] = ns.get(kUserAgent);
    nb::object url = ns.get(url_names[static_cast<int>(s.id)]);
    // A template that is no str is asked to replace as any object would be,
    // and fails as it would.
    if (s.url_has_cnpj)
        url = url.attr("replace")("{cnpj}", PyUnicode_Check(subject.ptr()) ? wire_form(subject) : nb::borrow(subject));
    nb::dict options;
    if (s.id == company_services::ServiceId::kCasaDosDados) put(options, kJson, search_body(subject, uf));
    put(options, kHeaders, headers);
    put(options, kTimeout, s.timeout_from_module ? ns.get(kRequestTimeout) : nb::int_(s.fixed_timeout));
    return {s.method, url, options};
}

}  // namespace quillon::bind
