// The company record of a decoded BrasilAPI or ReceitaWS answer, built by the
// layouts of quillon/company_services.hpp, and the share capital rule.  The
// lookups build their records here, and so does the Brazilian adapter's
// paced client (through `_registro_brasil_api` and `_registro_receita_ws`) and
// the open-data records (`_capital_social`, `_cnpj_ascii`).
#include "cnpj/web_services.hpp"

#include <unordered_map>

using namespace cnpj_names;

namespace {

constexpr Name kEmpty{""}, kZeroText{"0"}, kCapitalSocial{services::kCapitalMember}, kQsa{services::kQsa},
    kStatus{services::kStatusMember}, kRazaoSocial{services::kCompanyNameKey};

// A table string as an interned str, made on first use and kept for the
// process.
PyObject* py(const char* text) {
    static std::unordered_map<const char*, PyObject*> made;
    PyObject*& s = made[text];
    if (!s) s = owned(PyUnicode_InternFromString(text)).release().ptr();
    return s;
}

// The keys of `fields` read from the members of `data`, in order.
template <std::size_t N>
nb::dict members(nb::handle data, const services::Field (&fields)[N]) {
    nb::handle empty(kEmpty.get());
    nb::dict out;
    for (const services::Field& f : fields)
        put(out, py(f.key), f.member ? field(data, py(f.member), empty) : nb::borrow(empty));
    return out;
}

// The partner list from the answer's `qsa` array (absent: empty), one entry
// per element, in order.  A null `qsa` is an error, so its absence is told
// apart with a marker no JSON value can be.
nb::list partners(nb::handle data, const services::RecordLayout& l) {
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

nb::object company_record(const services::RecordLayout& l, nb::handle data, nb::handle clean) {
    if (l.refusal && field(data, kStatus.get(), Py_None).equal(nb::handle(py(l.refusal)))) return nb::none();
    nb::object capital = l.capital_is_text ? share_capital(field(data, kCapitalSocial.get(), kZeroText.get()))
                                           : field(data, kCapitalSocial.get(), nb::int_(0));
    nb::list socios = partners(data, l);
    nb::object formatted = format_cnpj(clean);
    nb::dict r;
    for (const services::Field& f : l.fields) {
        PyObject* key = py(f.key);
        switch (f.source) {
            case services::Source::kMember: put(r, key, field(data, py(f.member), kEmpty.get())); break;
            case services::Source::kFonte: put(r, key, py(services::service(l.service).name)); break;
            case services::Source::kCnpj: put(r, key, formatted); break;
            case services::Source::kCapital: put(r, key, capital); break;
            case services::Source::kAddress: put(r, key, members(data, services::kAddress)); break;
            case services::Source::kPartners: put(r, key, socios); break;
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
