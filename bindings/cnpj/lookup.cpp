// Online CNPJ lookup: BrasilAPI first, ReceitaWS as fallback, both answers
// turned into one registry record.
//
// A registry record has thirteen keys in a fixed order (it is printed and
// serialised as built): fonte, cnpj, razao_social, nome_fantasia, situacao,
// data_situacao, data_abertura, natureza_juridica, porte, capital_social,
// endereco (seven keys), email, socios (partner entries of six keys).  Field
// values are copied from the decoded answer as they are, "" when absent; only
// `cnpj` (formatted) and the ReceitaWS share capital (a number) are computed.
// An answer without the company's legal name is no record (a ValueError: the
// lookup logs it and moves on).  The request goes through requests_method
// (remote.hpp): bounded in time and size while `requests` is the real one.
#include "cnpj/registry.hpp"

#include <string>

#include "quillon/registry.hpp"

using namespace cnpj_names;
namespace registry = quillon::registry;

namespace {

constexpr const char* kBrasilApiDefault = "https://brasilapi.com.br/api/cnpj/v1/{cnpj}";
constexpr const char* kReceitaWsDefault = "https://receitaws.com.br/v1/cnpj/{cnpj}";
constexpr long kRequestTimeoutDefault = 10;
constexpr const char* kProjectAddress = "https://pypi.org/project/quillon/";

// Record keys.
constexpr Name kFonte{"fonte"}, kCnpj{"cnpj"}, kRazaoSocial{"razao_social"}, kNomeFantasia{"nome_fantasia"},
    kSituacao{"situacao"}, kDataSituacao{"data_situacao"}, kDataAbertura{"data_abertura"},
    kNaturezaJuridica{"natureza_juridica"}, kPorte{"porte"}, kCapitalSocial{"capital_social"}, kEndereco{"endereco"},
    kEmail{"email"}, kSocios{"socios"};
constexpr Name kLogradouro{"logradouro"}, kNumero{"numero"}, kComplemento{"complemento"}, kBairro{"bairro"},
    kCidade{"cidade"}, kUf{"uf"}, kCep{"cep"};
constexpr Name kNome{"nome"}, kQualificacao{"qualificacao"}, kDataEntrada{"data_entrada"},
    kCpfRepresentante{"cpf_representante"}, kNomeRepresentante{"nome_representante"},
    kQualificacaoRepresentante{"qualificacao_representante"};

// Answer fields that differ from the record keys.
constexpr Name kMunicipio{"municipio"}, kQsa{"qsa"}, kStatus{"status"};
constexpr Name kBrDescricaoSituacao{"descricao_situacao_cadastral"}, kBrDataSituacao{"data_situacao_cadastral"},
    kBrDataInicio{"data_inicio_atividade"}, kBrNomeSocio{"nome_socio"}, kBrQualificacaoSocio{"qualificacao_socio"},
    kBrDataEntrada{"data_entrada_sociedade"}, kBrCpfRepresentante{"cpf_representante_legal"},
    kBrNomeRepresentante{"nome_representante_legal"}, kBrQualificacaoRepresentante{"qualificacao_representante_legal"};
constexpr Name kWsFantasia{"fantasia"}, kWsAbertura{"abertura"}, kWsQual{"qual"};

constexpr Name kStatusCode{"status_code"}, kJson{"json"};
constexpr Name kBrasilApi{"BrasilAPI"}, kReceitaWs{"ReceitaWS"}, kError{"ERROR"}, kEmpty{""}, kZeroText{"0"};

// The value for "key absent" in a look-up whose absence needs telling apart
// from any JSON value (a `qsa` that is absent is an empty list, a null one is
// an error).
PyObject* absent() {
    static PyObject* marker = PyTuple_New(0);  // the empty tuple is immortal in practice
    return marker;
}

nb::dict new_dict() { return nb::steal<nb::dict>(PyDict_New()); }

// The seven address keys, read the same way from both services.
nb::dict endereco(nb::handle data) {
    nb::handle empty(kEmpty.get());
    nb::dict e = new_dict();
    put(e, kLogradouro, field(data, kLogradouro, empty));
    put(e, kNumero, field(data, kNumero, empty));
    put(e, kComplemento, field(data, kComplemento, empty));
    put(e, kBairro, field(data, kBairro, empty));
    put(e, kCidade, field(data, kMunicipio, empty));
    put(e, kUf, field(data, kUf, empty));
    put(e, kCep, field(data, kCep, empty));
    return e;
}

// The partner list from the answer's `qsa` array (absent: empty), one entry
// per element, in order.
template <class MakeEntry>
nb::list socios(nb::handle data, MakeEntry&& make_entry) {
    nb::object qsa = field(data, kQsa, absent());
    nb::list out = nb::steal<nb::list>(PyList_New(0));
    if (qsa.ptr() == absent()) return out;
    if (!PyList_Check(qsa.ptr()))
        raise_error(PyExc_TypeError, "'qsa' must be a list, not %.200s", Py_TYPE(qsa.ptr())->tp_name);
    // Size re-read each turn: reading an element may run Python code.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(qsa.ptr()); ++i) {
        nb::object element = nb::borrow(PyList_GET_ITEM(qsa.ptr(), i));
        nb::dict entry = make_entry(element);
        if (PyList_Append(out.ptr(), entry.ptr()) < 0) throw nb::python_error();
    }
    return out;
}

// The answer fields of the five record keys whose names differ by service.
struct ServiceFields {
    const Name& razao_social;
    const Name& nome_fantasia;
    const Name& situacao;
    const Name& data_situacao;
    const Name& data_abertura;
};

// The thirteen keys in their order; the capital and the partners come computed.
nb::dict registry_record(const Name& fonte, nb::handle cnpj_formatado, nb::handle data, const ServiceFields& f,
                         nb::handle capital, nb::handle partners) {
    nb::handle empty(kEmpty.get());
    nb::dict r = new_dict();
    put(r, kFonte, fonte.get());
    put(r, kCnpj, cnpj_formatado);
    put(r, kRazaoSocial, field(data, f.razao_social, empty));
    put(r, kNomeFantasia, field(data, f.nome_fantasia, empty));
    put(r, kSituacao, field(data, f.situacao, empty));
    put(r, kDataSituacao, field(data, f.data_situacao, empty));
    put(r, kDataAbertura, field(data, f.data_abertura, empty));
    put(r, kNaturezaJuridica, field(data, kNaturezaJuridica, empty));
    put(r, kPorte, field(data, kPorte, empty));
    put(r, kCapitalSocial, capital);
    put(r, kEndereco, endereco(data));
    put(r, kEmail, field(data, kEmail, empty));
    put(r, kSocios, partners);
    return r;
}

// An answer that does not name the company (`{}`, an error object sent with
// status 200) is no record of it: a ValueError, so the lookup moves on to the
// next service and nobody keeps it.  Checked once the record is built, so an
// answer of the wrong shape still fails as such.
nb::dict named_company(nb::dict record) {
    PyObject* name = PyDict_GetItemWithError(record.ptr(), kRazaoSocial.get());
    if (!name && PyErr_Occurred()) throw nb::python_error();
    bool named = false;
    if (name && PyUnicode_Check(name)) {
        nb::object stripped = nb::borrow(name).attr("strip")();
        named = PyUnicode_GET_LENGTH(stripped.ptr()) > 0;
    }
    if (!named) raise_error(PyExc_ValueError, "answer without the company's legal name");
    return record;
}

nb::dict brasil_api_record(nb::handle data, nb::handle cnpj_limpo) {
    nb::handle empty(kEmpty.get());
    nb::list partners = socios(data, [&](nb::handle s) {
        nb::dict e = new_dict();
        put(e, kNome, field(s, kBrNomeSocio, empty));
        put(e, kQualificacao, field(s, kBrQualificacaoSocio, empty));
        put(e, kDataEntrada, field(s, kBrDataEntrada, empty));
        put(e, kCpfRepresentante, field(s, kBrCpfRepresentante, empty));
        put(e, kNomeRepresentante, field(s, kBrNomeRepresentante, empty));
        put(e, kQualificacaoRepresentante, field(s, kBrQualificacaoRepresentante, empty));
        return e;
    });
    nb::object capital = field(data, kCapitalSocial, nb::int_(0));
    nb::object formatted = cnpj_ns.call(kFormatarCnpj, cnpj_limpo);
    static const ServiceFields fields{kRazaoSocial, kNomeFantasia, kBrDescricaoSituacao, kBrDataSituacao,
                                      kBrDataInicio};
    return named_company(registry_record(kBrasilApi, formatted, data, fields, capital, partners));
}

// ReceitaWS writes the share capital as text; see quillon/registry.hpp for how
// it is read.  A text that does not parse raises float()'s ValueError.
nb::object share_capital(nb::handle value) {
    if (!PyUnicode_Check(value.ptr())) return nb::borrow(value);
    PyObject* s = value.ptr();
    nb::object text = with_code_units(s, [&](const auto* data, std::size_t n) -> nb::object {
        switch (registry::amount_style(data, n)) {
            case registry::AmountStyle::kEmpty:
                return nb::object();
            case registry::AmountStyle::kDecimalPoint:
                return nb::borrow(value);
            case registry::AmountStyle::kBrazilian:
                break;
        }
        std::u32string out;
        out.reserve(n);
        registry::brazilian_to_decimal_point(data, n, [&](char32_t c) { out.push_back(c); });
        return make_str(out);
    });
    if (!text.is_valid()) return nb::int_(0);
    PyObject* number = PyFloat_FromString(text.ptr());
    if (!number) throw nb::python_error();
    return nb::steal(number);
}

nb::dict receita_ws_record(nb::handle data, nb::handle cnpj_limpo) {
    nb::handle empty(kEmpty.get());
    nb::object capital = share_capital(field(data, kCapitalSocial, kZeroText.get()));
    nb::list partners = socios(data, [&](nb::handle s) {
        nb::dict e = new_dict();
        put(e, kNome, field(s, kNome, empty));
        put(e, kQualificacao, field(s, kWsQual, empty));
        put(e, kDataEntrada, empty);
        put(e, kCpfRepresentante, empty);
        put(e, kNomeRepresentante, empty);
        put(e, kQualificacaoRepresentante, empty);
        return e;
    });
    nb::object formatted = cnpj_ns.call(kFormatarCnpj, cnpj_limpo);
    static const ServiceFields fields{kNome, kWsFantasia, kSituacao, kDataSituacao, kWsAbertura};
    return named_company(registry_record(kReceitaWs, formatted, data, fields, capital, partners));
}

// One GET to one service, the answer made into a record.  Whatever goes wrong
// after the URL is built is logged and gives None: request errors and values
// that do not parse as a warning with the error's text, anything else at error
// level with its stack trace.
template <class MakeRecord>
nb::object ask_service(const char* function, const char* service, const Name& url_name, nb::dict headers,
                       nb::handle cnpj_arg, MakeRecord&& make_record) {
    nb::object cnpj_limpo = cnpj_ns.call(kLimparCnpj, cnpj_arg);
    nb::object url = fill_url(cnpj_ns.get(url_name), cnpj_limpo);
    nb::object record;
    nb::object error = catch_exception([&] {
        static PyObject* kwnames = keyword_names({"headers", "timeout"});
        nb::object get = requests_method(cnpj_ns, "get");
        nb::object response = call_with_keywords(get, {url}, kwnames, {headers, cnpj_ns.get(kRequestTimeout)});
        if (!attr_of(response, kStatusCode).equal(nb::int_(200))) return;
        require_utf8_body(response);
        record = make_record(attr_of(response, kJson)(), cnpj_limpo);
    });
    if (!error.is_valid()) return record.is_valid() ? record : nb::none();
    if (is_request_or_value_error(cnpj_ns, error)) {
        std::string fmt = std::string(service) + " request failed for %s: %s";
        log_warning(cnpj_ns, fmt.c_str(), cnpj_limpo, error_text(error));
    } else {
        std::string fmt = std::string("Unexpected error in ") + function + " for %s";
        log_exception(cnpj_ns, error, fmt.c_str(), cnpj_limpo);
    }
    return nb::none();
}

nb::object consultar_brasil_api(nb::handle cnpj_arg) {
    text_arg(cnpj_arg, "_consultar_brasil_api", "cnpj");
    return ask_service("_consultar_brasil_api", "BrasilAPI", kBrasilApiUrl, service_headers({}), cnpj_arg,
                       brasil_api_record);
}

nb::object consultar_receita_ws(nb::handle cnpj_arg) {
    text_arg(cnpj_arg, "_consultar_receita_ws", "cnpj");
    return ask_service("_consultar_receita_ws", "ReceitaWS", kReceitaWsUrl,
                       service_headers({{"Accept", "application/json"}}), cnpj_arg,
                       [](nb::handle data, nb::handle cnpj_limpo) -> nb::object {
                           // A CNPJ the service cannot serve comes back with
                           // status 200 and {"status": "ERROR"}.
                           if (field(data, kStatus, Py_None).equal(nb::handle(kError.get())))
                               return nb::none();
                           return receita_ws_record(data, cnpj_limpo);
                       });
}

// The records of answers fetched by someone else (the Brazilian adapter's
// paced client), built exactly as the lookups build theirs.  Errors of the
// answer's shape reach the caller, the ValueError of an answer that does not
// name the company among them.
nb::object registro_brasil_api(nb::handle dados, nb::handle cnpj_arg) {
    text_arg(cnpj_arg, "_registro_brasil_api", "cnpj");
    return brasil_api_record(dados, cnpj_ns.call(kLimparCnpj, cnpj_arg));
}

nb::object registro_receita_ws(nb::handle dados, nb::handle cnpj_arg) {
    text_arg(cnpj_arg, "_registro_receita_ws", "cnpj");
    if (field(dados, kStatus, Py_None).equal(nb::handle(kError.get()))) return nb::none();
    return receita_ws_record(dados, cnpj_ns.call(kLimparCnpj, cnpj_arg));
}

nb::object consultar_cnpj(nb::handle cnpj_arg) {
    text_arg(cnpj_arg, "consultar_cnpj", "cnpj");
    if (!truth(cnpj_ns.call(kValidarCnpj, cnpj_arg))) return nb::none();
    nb::object record = cnpj_ns.call(kConsultarBrasilApi, cnpj_arg);
    if (truth(record)) return record;
    return cnpj_ns.call(kConsultarReceitaWs, cnpj_arg);
}

}  // namespace

nb::dict service_headers(std::initializer_list<std::pair<const char*, const char*>> fixed) {
    nb::dict headers;
    for (const auto& [name, value] : fixed) headers[name] = value;
    headers["User-Agent"] = nb::borrow(cnpj_ns.get(kUserAgent));
    return headers;
}

void register_lookup(nb::module_& m) {
    nb::object version = nb::module_::import_("quillon").attr("__version__");
    cnpj_ns.set("USER_AGENT", nb::str("quillon/{} (+{})").format(version, kProjectAddress));
    cnpj_ns.set("BRASIL_API_URL", nb::str(kBrasilApiDefault));
    cnpj_ns.set("RECEITA_WS_URL", nb::str(kReceitaWsDefault));
    cnpj_ns.set("REQUEST_TIMEOUT", nb::int_(kRequestTimeoutDefault));

    m.def("consultar_cnpj", &consultar_cnpj, param("cnpj"),
          nb::sig("def consultar_cnpj(cnpj: str) -> dict[str, typing.Any] | None"),
          "Consulta CNPJ online usando BrasilAPI com fallback para ReceitaWS.");
    cnpj_ns.set("consultar_cnpj_online", cnpj_ns.get(kConsultarCnpj));
    m.def("_consultar_brasil_api", &consultar_brasil_api, param("cnpj"),
          nb::sig("def _consultar_brasil_api(cnpj: str) -> dict[str, typing.Any] | None"),
          "Consulta CNPJ na BrasilAPI (fonte principal).");
    m.def("_consultar_receita_ws", &consultar_receita_ws, param("cnpj"),
          nb::sig("def _consultar_receita_ws(cnpj: str) -> dict[str, typing.Any] | None"),
          "Consulta CNPJ na ReceitaWS (fallback).");
    m.def("_registro_brasil_api", &registro_brasil_api, param("dados"), param("cnpj"),
          nb::sig("def _registro_brasil_api(dados: dict[str, typing.Any], cnpj: str) -> dict[str, typing.Any]"),
          "Registro normalizado de uma resposta da BrasilAPI já decodificada (ValueError sem razão social).");
    m.def("_registro_receita_ws", &registro_receita_ws, param("dados"), param("cnpj"),
          nb::sig("def _registro_receita_ws(dados: dict[str, typing.Any], cnpj: str) -> dict[str, typing.Any] | None"),
          "Registro normalizado de uma resposta da ReceitaWS já decodificada (None para status ERROR,\n"
          "ValueError sem razão social).");
}
