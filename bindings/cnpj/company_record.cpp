// The company record of a decoded BrasilAPI or ReceitaWS answer, built by the
// layouts of quillon/company_services.hpp, and the share capital rule.  The
// lookups build their records here, and so does the Brazilian adapter's
// paced client (through `_registro_brasil_api` and `_registro_receita_ws`) and
// the open-data records (`_capital_social`, `_cnpj_ascii`).
#include "cnpj/web_services.hpp"

using namespace cnpj_names;

namespace {

constexpr Name kEmpty{""}, kZeroText{"0"}, kCapitalSocial{services::kCapitalMember}, kQsa{services::kQsa},
    kStatus{services::kStatusMember}, kRazaoSocial{services::kCompanyNameKey};

// A table string as an interned str, kept for the process (nullptr stays nullptr).
PyObject* intern(const char* text) {
    return text ? owned(PyUnicode_InternFromString(text)).release().ptr() : nullptr;
}

struct BoundField {
    services::Source source;
    PyObject* key;
    PyObject* member;  // nullptr: always ""
};

template <std::size_t N>
void bind_fields(const services::Field (&in)[N], BoundField (&out)[N]) {
    for (std::size_t i = 0; i < N; ++i) out[i] = {in[i].source, intern(in[i].key), intern(in[i].member)};
}

// A layout with its strings as Python objects, made once: a record is built
// on every lookup, and looking each table string up again costs more than
// the rest of the record.
struct BoundLayout {
    explicit BoundLayout(const services::RecordLayout& l)
        : fonte(intern(services::service(l.service).name)), capital_is_text(l.capital_is_text),
          refusal(intern(l.refusal)) {
        bind_fields(l.fields, fields);
        bind_fields(l.partner, partner);
        bind_fields(services::kAddress, address);
    }
    PyObject* fonte;
    bool capital_is_text;
    PyObject* refusal;
    BoundField fields[services::kRecordKeys];
    BoundField partner[services::kPartnerKeys];
    BoundField address[services::kAddressKeys];
};

const BoundLayout& bound(const services::RecordLayout& layout) {
    static const BoundLayout brasil_api(services::kBrasilApiRecord), receita_ws(services::kReceitaWsRecord);
    return &layout == &services::kBrasilApiRecord ? brasil_api : receita_ws;
}

// The keys of `fields` read from the members of `data`, in order.
template <std::size_t N>
nb::dict members(nb::handle data, const BoundField (&fields)[N]) {
    nb::handle empty(kEmpty.get());
    nb::dict out;
    for (const BoundField& f : fields) put(out, f.key, f.member ? field(data, f.member, empty) : nb::borrow(empty));
    return out;
}

// The partner list from the answer's `qsa` array (absent: empty), one entry
// per element, in order.  A null `qsa` is an error, so its absence is told
// apart with a marker no JSON value can be.
nb::list partners(nb::handle data, const BoundLayout& l) {
    static PyObject* absent = PyTuple_New(0);
    nb::object qsa = field(data, kQsa.get(), absent);
    nb::list out;
    if (qsa.ptr() == absent) return out;
    if (!PyList_Check(qsa.ptr()))
        raise_error(PyExc_TypeError, "'qsa' must be a list, not %.200s", Py_TYPE(qsa.ptr())->tp_name);
    // Size re-read each turn: reading an element may run Python code.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(qsa.ptr()); ++i) {
        nb::object element = nb::borrow(PyList_GET_ITEM(qsa.ptr(), i));
        checked(PyList_Append(out.ptr(), members(element, l.partner).ptr()));
    }
    return out;
}

// The share capital of a text (see quillon/company_services.hpp); any other
// value as it is.  A text that does not parse raises float()'s ValueError.
nb::object share_capital(nb::handle value) {
    if (!PyUnicode_Check(value.ptr())) return nb::borrow(value);
    if (PyUnicode_GET_LENGTH(value.ptr()) == 0) return nb::int_(0);
    nb::str text = with_code_units(
        value.ptr(), [](const auto* data, std::size_t n) { return make_str(services::capital_text(data, n)); });
    return owned(PyFloat_FromString(text.ptr()));
}

// An answer that does not name the company (`{}`, an error object sent with
// status 200) is no record of it.  Checked once the record is built, so an
// answer of the wrong shape still fails as such.
nb::dict named_company(nb::dict record) {
    PyObject* name = dict_item(record, kRazaoSocial.get());
    bool named = name && PyUnicode_Check(name) && with_code_units(name, [](const auto* text, std::size_t n) {
                     return services::names_company(text, n);
                 });
    if (!named) raise_error(PyExc_ValueError, "answer without the company's legal name");
    return record;
}

nb::object registro(const services::RecordLayout& layout, const char* fn, nb::handle dados, nb::handle cnpj_arg) {
    text_arg(cnpj_arg, fn, "cnpj");
    return company_record(layout, dados, cnpj_ns.call(kLimparCnpj, cnpj_arg));
}

nb::object cnpj_ascii(nb::handle cnpj_arg) {
    text_arg(cnpj_arg, "_cnpj_ascii", "cnpj");
    return wire_form(cnpj_arg);
}

}  // namespace

nb::object company_record(const services::RecordLayout& layout, nb::handle data, nb::handle clean) {
    const BoundLayout& l = bound(layout);
    if (l.refusal && field(data, kStatus.get(), Py_None).equal(nb::handle(l.refusal))) return nb::none();
    nb::object capital = l.capital_is_text ? share_capital(field(data, kCapitalSocial.get(), kZeroText.get()))
                                           : field(data, kCapitalSocial.get(), nb::int_(0));
    nb::list socios = partners(data, l);
    nb::object formatted = format_cnpj(clean);
    nb::dict r;
    for (const BoundField& f : l.fields) {
        switch (f.source) {
            case services::Source::kMember: put(r, f.key, field(data, f.member, kEmpty.get())); break;
            case services::Source::kFonte: put(r, f.key, l.fonte); break;
            case services::Source::kCnpj: put(r, f.key, formatted); break;
            case services::Source::kCapital: put(r, f.key, capital); break;
            case services::Source::kAddress: put(r, f.key, members(data, l.address)); break;
            case services::Source::kPartners: put(r, f.key, socios); break;
        }
    }
    return named_company(r);
}

void register_company_record(nb::module_& m) {
    m.def("_capital_social", &share_capital, param("texto"),
          nb::sig("def _capital_social(texto: typing.Any) -> typing.Any"),
          "Capital social de um texto (\"1.500.000,00\" ou \"190000.00\"; \"\" vale 0); outro valor como está.\n"
          "ValueError quando o texto não é um número.");
    m.def("_cnpj_ascii", &cnpj_ascii, param("cnpj"), nb::sig("def _cnpj_ascii(cnpj: str) -> str"),
          "CNPJ limpo como os serviços e os arquivos o escrevem: dígitos de qualquer escrita em ASCII.");
    static constexpr LayoutFunction builders[] = {
        {&services::kBrasilApiRecord, "_registro_brasil_api",
         "def _registro_brasil_api(dados: dict[str, typing.Any], cnpj: str) -> dict[str, typing.Any]",
         "Registro normalizado de uma resposta da BrasilAPI já decodificada (ValueError sem razão social)."},
        {&services::kReceitaWsRecord, "_registro_receita_ws",
         "def _registro_receita_ws(dados: dict[str, typing.Any], cnpj: str) -> dict[str, typing.Any] | None",
         "Registro normalizado de uma resposta da ReceitaWS já decodificada (None para status ERROR,\n"
         "ValueError sem razão social)."}};
    for (const LayoutFunction& b : builders)
        m.def(b.name, [b](nb::handle d, nb::handle c) { return registro(*b.layout, b.name, d, c); }, param("dados"),
              param("cnpj"), nb::sig(b.sig), b.doc);
}
