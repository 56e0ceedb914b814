// Company search by name (Casa dos Dados) and the combined lookups that try
// the CNPJ first, then the name, then, when asked, the host's AI web search.
//
// A record found here is the registry record of the online lookup with marker
// keys written into it after its thirteen keys: busca_por_nome and
// termo_busca (found by name), _metodo_busca (the strategy of
// buscar_empresa_completo) and _cnpj_buscado_por_ai.
#include "cnpj/web_services.hpp"

using namespace cnpj_names;

namespace {

constexpr Name kData{"data"}, kCount{"count"}, kCnpj{"cnpj"}, kEmpty{""};
constexpr Name kBuscaPorNome{"busca_por_nome"}, kTermoBusca{"termo_busca"}, kMetodoBusca{"_metodo_busca"},
    kCnpjBuscadoPorAi{"_cnpj_buscado_por_ai"};
constexpr Name kCnpjDireto{"cnpj_direto"}, kApiNome{"api_nome"}, kAiWebSearch{"ai_web_search"};

// A non-empty str (None and "" are "not given").
bool given(PyObject* text) { return text && PyUnicode_GET_LENGTH(text) > 0; }

// The CNPJ of a search answer's first hit (only the first counts), or None.
nb::object first_hit(nb::handle answer) {
    nb::object data = field(answer, kData, nb::dict());
    bool positive = field(data, kCount, nb::int_(0)) > nb::int_(0);
    nb::object hits = positive ? field(data, kCnpj, nb::list()) : nb::none();
    if (!services::first_hit_counts({positive, positive && truth(hits)})) return nb::none();
    nb::object cnpj = field(owned(PyObject_GetItem(hits.ptr(), nb::int_(0).ptr())), kCnpj, kEmpty.get());
    return truth(cnpj) ? cnpj : nb::none();
}

// The search itself, under the handlers: the first hit's CNPJ looked up in
// the registry, or None.
nb::object search_by_name(PyObject* nome, PyObject* uf) {
    const services::Service& service = services::service(services::ServiceId::kCasaDosDados);
    ServiceRequest request = service_request(cnpj_ns, service, nome, uf ? nb::handle(uf) : nb::none());
    nb::object response = send(cnpj_ns, request.method, request.url, request.options);
    if (!response.attr("status_code").equal(nb::int_(200))) return nb::none();
    nb::object cnpj = first_hit(decode_json(response));
    if (!truth(cnpj)) return nb::none();
    nb::object record = cnpj_ns.call(kConsultarCnpj, cnpj);
    if (!truth(record)) return nb::none();
    put(record, kBuscaPorNome, Py_True);
    put(record, kTermoBusca, nome);
    return record;
}

nb::object buscar_cnpj_por_nome(nb::handle nome_arg, nb::handle uf_arg) {
    PyObject* nome = text_or_none_arg(nome_arg, "buscar_cnpj_por_nome", "nome_empresa");
    PyObject* uf = text_or_none_arg(uf_arg, "buscar_cnpj_por_nome", "uf");
    // Too short to search for; white space counts.
    if (!nome || static_cast<std::size_t>(PyUnicode_GET_LENGTH(nome)) < services::kMinSearchLength) return nb::none();
    return logged_failure(cnpj_ns, "Casa dos Dados search failed for %r: %s",
                          "Unexpected error in buscar_cnpj_por_nome for %r", nome,
                          [&] { return search_by_name(nome, uf); });
}

// The record of a CNPJ given by the caller, when it is valid and registered.
nb::object by_cnpj(PyObject* cnpj) {
    if (!given(cnpj)) return nb::none();
    nb::object clean = cnpj_ns.call(kLimparCnpj, nb::handle(cnpj));
    if (!truth(cnpj_ns.call(kValidarCnpj, clean))) return nb::none();
    nb::object record = cnpj_ns.call(kConsultarCnpj, clean);
    return truth(record) ? record : nb::none();
}

nb::object by_name(PyObject* nome, PyObject* uf) {
    nb::object record = cnpj_ns.call(kBuscarCnpjPorNome, nb::handle(nome), uf ? nb::handle(uf) : nb::none());
    return truth(record) ? record : nb::none();
}

nb::object buscar_empresa(nb::handle cnpj_arg, nb::handle nome_arg, nb::handle uf_arg) {
    PyObject* cnpj = text_or_none_arg(cnpj_arg, "buscar_empresa", "cnpj");
    PyObject* nome = text_or_none_arg(nome_arg, "buscar_empresa", "nome");
    PyObject* uf = text_or_none_arg(uf_arg, "buscar_empresa", "uf");
    nb::object record = by_cnpj(cnpj);
    return record.is_none() && given(nome) ? by_name(nome, uf) : record;
}

// The record (None stays None) with the strategy that found it.
nb::object marked(nb::object record, const Name& strategy) {
    if (!record.is_none()) put(record, kMetodoBusca, strategy.get());
    return record;
}

// The host's AI search, loaded now rather than with the module, so that the
// module works without it.  A missing module or dependency (ImportError, from
// loading it, from the look-up of the function or from the call) gives an
// invalid object: the strategy is skipped.  Any other error reaches the caller.
nb::object ai_search(PyObject* nome, PyObject* openai_api_key) {
    try {
        nb::object fn = import_name("quillon.contract.countries.br.ai_search", "buscar_cnpj_via_ai");
        return fn(nb::handle(nome), nb::handle(openai_api_key));
    } catch (nb::python_error& e) {
        if (e.matches(PyExc_ImportError)) return {};
        throw;
    }
}

nb::object buscar_empresa_completo(nb::handle cnpj_arg, nb::handle nome_arg, nb::handle uf_arg,
                                   nb::handle usar_ai_search, nb::handle key_arg) {
    const char* fn = "buscar_empresa_completo";
    PyObject* cnpj = text_or_none_arg(cnpj_arg, fn, "cnpj");
    PyObject* nome = text_or_none_arg(nome_arg, fn, "nome");
    PyObject* uf = text_or_none_arg(uf_arg, fn, "uf");
    PyObject* openai_api_key = text_or_none_arg(key_arg, fn, "openai_api_key");

    nb::object record = by_cnpj(cnpj);
    if (!record.is_none() || !given(nome)) return marked(record, kCnpjDireto);
    record = by_name(nome, uf);
    if (!record.is_none() || !truth(usar_ai_search) || !given(openai_api_key)) return marked(record, kApiNome);
    nb::object found = ai_search(nome, openai_api_key);
    if (!found.is_valid() || !truth(found)) return nb::none();
    record = cnpj_ns.call(kConsultarCnpj, found);
    if (!truth(record)) return nb::none();
    put(marked(record, kAiWebSearch), kCnpjBuscadoPorAi, Py_True);
    return record;
}

}  // namespace

void register_search(nb::module_& m) {
    m.def("_primeiro_resultado", &first_hit, param("resposta"),
          nb::sig("def _primeiro_resultado(resposta: typing.Any) -> typing.Any"),
          "CNPJ do primeiro resultado de uma busca na Casa dos Dados (só o primeiro conta), ou None.");

    m.def("buscar_cnpj_por_nome", &buscar_cnpj_por_nome, param("nome_empresa"), param("uf") = nb::none(),
          nb::sig("def buscar_cnpj_por_nome(nome_empresa: str, uf: str | None = None) -> dict[str, typing.Any] | None"),
          "Busca CNPJ pelo nome da empresa usando Casa dos Dados API.");
    m.def("buscar_empresa", &buscar_empresa, param("cnpj") = nb::none(), param("nome") = nb::none(),
          param("uf") = nb::none(),
          nb::sig("def buscar_empresa(cnpj: str | None = None, nome: str | None = None, uf: str | None = None) "
                  "-> dict[str, typing.Any] | None"),
          "Busca empresa por CNPJ ou nome.\n\nPrimeiro tenta por CNPJ, se não tiver, busca por nome.");
    m.def("buscar_empresa_completo", &buscar_empresa_completo, param("cnpj") = nb::none(), param("nome") = nb::none(),
          param("uf") = nb::none(), param("usar_ai_search") = false, param("openai_api_key") = nb::none(),
          nb::sig("def buscar_empresa_completo(cnpj: str | None = None, nome: str | None = None, "
                  "uf: str | None = None, usar_ai_search: bool = False, openai_api_key: str | None = None) "
                  "-> dict[str, typing.Any] | None"),
          "Busca empresa usando todas as estratégias disponíveis.\n"
          "\n"
          "1. Por CNPJ direto (se fornecido)\n"
          "2. Por nome na API Casa dos Dados\n"
          "3. Por nome via AI web search (se habilitado e configurado)");
}
