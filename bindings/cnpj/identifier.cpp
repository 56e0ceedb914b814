// The CNPJ identifier: cleaning, check digits, validation, formatting.
#include "cnpj/parts.hpp"

#include "quillon/cnpj.hpp"

namespace cnpj = quillon::cnpj;

namespace {

nb::object limpar_cnpj(nb::handle cnpj_arg) {
    PyObject* s = text_or_none_arg(cnpj_arg, "limpar_cnpj", "cnpj");
    if (!s) return nb::str("");
    return with_code_units(s, [&](const auto* data, std::size_t n) -> nb::object {
        using Unit = std::remove_const_t<std::remove_pointer_t<decltype(data)>>;
        if constexpr (sizeof(Unit) == 1) {
            cnpj::Latin1Scan scan = cnpj::scan_latin1(data, n);
            cnpj::Digits alnum;
            if (cnpj::read_alphanumeric_if_letters(scan.letters, data, n, alnum))
                return make_str(alnum.chars, cnpj::kLength);
            if (scan.digits == n && PyUnicode_CheckExact(s)) return nb::borrow(s);
            nb::object out = owned(PyUnicode_New(static_cast<Py_ssize_t>(scan.digits), 127));
            cnpj::copy_ascii_digits(data, n, PyUnicode_1BYTE_DATA(out.ptr()));
            return out;
        } else {
            std::u32string kept;
            cnpj::clean(data, n, [&](char32_t c) { kept.push_back(c); });
            return make_str(kept);
        }
    });
}

bool validar_cnpj(nb::handle cnpj_arg) {
    PyObject* s = text_or_none_arg(cnpj_arg, "validar_cnpj", "cnpj");
    if (!s) return false;
    return with_code_units(s, [](const auto* data, std::size_t n) { return cnpj::is_valid(data, n); });
}

nb::object formatar_cnpj(nb::handle cnpj_arg) {
    PyObject* s = text_or_none_arg(cnpj_arg, "formatar_cnpj", "cnpj");
    if (!s || PyUnicode_GET_LENGTH(s) == 0) return nb::str("");
    cnpj::Digits d = with_code_units(s, [](const auto* data, std::size_t n) { return cnpj::first_digits(data, n); });
    // Anything but fourteen characters is given back untouched: never
    // truncated, padded or partly formatted.
    if (d.count != cnpj::kLength) return nb::borrow(s);
    char32_t out[cnpj::kFormattedLength];
    cnpj::format_into(d.chars, out);
    return make_str(out, cnpj::kFormattedLength);
}

// Weight modulo 11 (Python's %, 0..10): all the check digit needs, for
// weights of any size.
long long weight_mod_11(nb::handle item) {
    return PyLong_AsLongLong((integer_arg(item, "_calcular_digito_cnpj", "pesos") % nb::int_(11)).ptr());
}

nb::str calcular_digito_cnpj(nb::handle base_arg, nb::handle pesos_arg) {
    PyObject* base = text_arg(base_arg, "_calcular_digito_cnpj", "base");
    nb::list pesos = list_arg(pesos_arg, "_calcular_digito_cnpj", "pesos");
    auto n_base = static_cast<std::size_t>(PyUnicode_GET_LENGTH(base));
    long long sum = 0;
    // Pairs stop at the shorter of the two, like zip(); characters past the
    // last weight are never looked at.
    for (std::size_t i = 0; i < n_base && i < pesos.size(); ++i) {
        Py_UCS4 c = PyUnicode_READ_CHAR(base, static_cast<Py_ssize_t>(i));
        int value = cnpj::char_value(c);
        if (value < 0)
            raise_error(PyExc_ValueError, "_calcular_digito_cnpj(): invalid CNPJ character %R at position %zu",
                        owned(PyUnicode_FromOrdinal(static_cast<int>(c))).ptr(), i);
        // The list may change size under a weight's __index__; re-check.
        if (i >= pesos.size()) break;
        sum += static_cast<long long>(value) * weight_mod_11(pesos[i]);
    }
    char digit = cnpj::check_digit_for_sum(sum);
    return nb::str(&digit, 1);
}

// The module's own formatar_cnpj, held for the process (see format_cnpj).
PyObject* own_formatar = nullptr;

}  // namespace

nb::object format_cnpj(nb::handle clean) {
    static constexpr Name kFormatarCnpj{"formatar_cnpj"};
    nb::object current = cnpj_ns.get(kFormatarCnpj);
    return current.is(own_formatar) ? formatar_cnpj(clean) : current(clean);
}

void register_identifier(nb::module_& m) {
    m.def("limpar_cnpj", &limpar_cnpj, param("cnpj"), nb::sig("def limpar_cnpj(cnpj: str | None) -> str"),
          "Remove formatação do CNPJ (pontos, barras, hífens).");
    m.def("_calcular_digito_cnpj", &calcular_digito_cnpj, param("base"), param("pesos"),
          nb::sig("def _calcular_digito_cnpj(base: str, pesos: list[int]) -> str"),
          "Calcula um dígito verificador de CNPJ (módulo 11) para a base informada.");
    m.def("validar_cnpj", &validar_cnpj, param("cnpj"), nb::sig("def validar_cnpj(cnpj: str | None) -> bool"),
          "Valida um CNPJ: 14 dígitos e dígitos verificadores corretos (módulo 11).");
    m.def("formatar_cnpj", &formatar_cnpj, param("cnpj"), nb::sig("def formatar_cnpj(cnpj: str | None) -> str"),
          "Formata CNPJ no padrão XX.XXX.XXX/XXXX-XX.");
    own_formatar = m.attr("formatar_cnpj").inc_ref().ptr();
}
