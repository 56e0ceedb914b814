// Address comparison: the contract's address against the registry's.
#include "cnpj/parts.hpp"

#include "quillon/address.hpp"

namespace address = quillon::address;

namespace {

constexpr const char* kDocNormalizar = "Normaliza endereço para comparação.";
constexpr const char* kDocComparar =
    "Compara endereço do contrato com o da Receita Federal.\n"
    "\n"
    "Divergências caem em pendente para revisão manual (não reprovam agressivamente).\n"
    "CEPs coincidentes não geram boost: em zonas rurais um único CEP cobre múltiplos logradouros, "
    "o que produzia falsos positivos.\n"
    "\n"
    "Returns:\n"
    "    tuple: (confere: bool, similaridade: float, endereco_receita: str)";

constexpr Name kEndereco{"endereco"};
// The parts of a registry address, in the order the one-line form joins them.
constexpr Name kAddressParts[] = {Name{"logradouro"}, Name{"numero"}, Name{"complemento"}, Name{"bairro"},
                                  Name{"cidade"},     Name{"uf"},     Name{"cep"}};

// The registry address as one line: its non-empty parts joined by spaces.
nb::str registry_line(nb::dict dados_receita) {
    PyObject* endereco = dict_item(dados_receita, kEndereco.get());
    if (!endereco) return nb::str("");
    if (!PyDict_Check(endereco))
        raise_error(PyExc_TypeError, "comparar_enderecos(): dados_receita['endereco'] must be dict, not %.200s",
                    Py_TYPE(endereco)->tp_name);
    nb::object keep = nb::borrow(endereco);
    nb::list parts;
    for (const Name& key : kAddressParts) {
        PyObject* value = dict_item(endereco, key.get());
        if (!value || value == Py_None) continue;
        if (!PyUnicode_Check(value))
            raise_error(PyExc_TypeError,
                        "comparar_enderecos(): dados_receita['endereco']['%s'] must be str or None, not %.200s",
                        key.text(), Py_TYPE(value)->tp_name);
        if (PyUnicode_GET_LENGTH(value) > 0) parts.append(nb::handle(value));
    }
    return nb::borrow<nb::str>(owned(PyUnicode_Join(nb::str(" ").ptr(), parts.ptr())));
}

nb::str normalizar_endereco(nb::handle endereco_arg) {
    PyObject* s = text_arg(endereco_arg, "_normalizar_endereco", "endereco");
    return make_str(with_code_units(s, [](const auto* data, std::size_t n) { return address::normalize(data, n); }));
}

nb::tuple comparar_enderecos(nb::handle contrato_arg, nb::handle dados_arg, nb::handle threshold_arg) {
    PyObject* contrato = text_arg(contrato_arg, "comparar_enderecos", "endereco_contrato");
    nb::dict dados_receita = dict_arg(dados_arg, "comparar_enderecos", "dados_receita");
    double threshold = real_arg(threshold_arg, "comparar_enderecos", "threshold");

    if (PyUnicode_GET_LENGTH(contrato) == 0 || PyDict_GET_SIZE(dados_receita.ptr()) == 0)
        return nb::make_tuple(false, 0.0, nb::str(""));
    nb::str receita = registry_line(dados_receita);
    if (PyUnicode_GET_LENGTH(receita.ptr()) == 0) return nb::make_tuple(false, 0.0, receita);

    address::Comparison result = with_code_units(contrato, [&](const auto* c, std::size_t nc) {
        return with_code_units(receita.ptr(), [&](const auto* r, std::size_t nr) {
            return address::compare(c, nc, r, nr, threshold);
        });
    });
    return nb::make_tuple(result.confere, result.similaridade, receita);
}

}  // namespace

void register_address(nb::module_& m) {
    nb::object default_threshold = nb::float_(address::kDefaultThreshold);
    cnpj_ns.set("DEFAULT_ADDRESS_SIMILARITY_THRESHOLD", default_threshold);
    m.def("_normalizar_endereco", &normalizar_endereco, param("endereco"),
          nb::sig("def _normalizar_endereco(endereco: str) -> str"), kDocNormalizar);
    // The default is the constant's value at load: rebinding the constant
    // later does not change it.
    m.def("comparar_enderecos", &comparar_enderecos, param("endereco_contrato"), param("dados_receita"),
          param("threshold") = default_threshold,
          nb::sig("def comparar_enderecos(endereco_contrato: str, dados_receita: dict, "
                  "threshold: float = 0.85) -> tuple[bool, float, str]"),
          kDocComparar);
}
