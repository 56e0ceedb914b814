// quillon.registry.opendata: the line reader of the importer of the open CNPJ
// data, and the key registry names are searched by.
//
// The importer hands the reader the decompressed bytes of one file in chunks;
// the core's RowReader cuts them into lines, checks each against the file's
// field count and makes its values by the file's plan (which fields, made into
// what); here those values become a row tuple.  Lines that do not read are not
// rows: each is noted with its line number and why, and reading goes on.
#include <Python.h>
#include <nanobind/nanobind.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <string>
#include <utility>
#include <vector>

#include "quillon/opendata.hpp"
#include "toolkit/args.hpp"
#include "toolkit/strings.hpp"

namespace nb = nanobind;
namespace od = quillon::opendata;
using namespace quillon::bind;

namespace {

using od::kCnpj, od::kCode, od::kDate, od::kKey, od::kText;
using Plan = std::vector<std::pair<int, int>>;

nb::object value_of(const od::Value& v) {
    switch (v.kind) {
        case od::Value::Kind::kNone: return nb::none();
        case od::Value::Kind::kCode: return nb::int_(v.code);
        case od::Value::Kind::kKey: return make_str(v.key);
        default:  // Latin-1 bytes are code points
            return owned(PyUnicode_DecodeLatin1(v.latin1.data(), static_cast<Py_ssize_t>(v.latin1.size()), nullptr));
    }
}

Plan fitting(Plan plan, std::size_t columns) {
    if (!od::plan_fits(plan, columns)) throw nb::value_error("plano inválido: operação ou coluna fora do leiaute");
    return plan;
}

class LineReader {
public:
    LineReader(std::size_t columns, Plan plan, long long line, long long offset)
        : reader_(columns, fitting(std::move(plan), columns), line, offset) {}

    // Rows of the complete lines in `chunk` (after what earlier chunks left).
    nb::list feed(nb::bytes chunk) {
        nb::list rows;
        reader_.feed(static_cast<const char*>(chunk.data()), chunk.size(), [&](const auto& v) { append(rows, v); });
        return rows;
    }

    // The row of a last line that has no line break after it.
    nb::list finish() {
        nb::list rows;
        reader_.finish([&](const auto& v) { append(rows, v); });
        return rows;
    }

    std::vector<od::RowReader::Error> take_errors() { return reader_.take_errors(); }
    long long line() const { return reader_.line(); }
    long long offset() const { return reader_.offset(); }

private:
    static void append(nb::list& rows, const std::vector<od::Value>& values) {
        nb::object row = owned(PyTuple_New(static_cast<Py_ssize_t>(values.size())));
        for (std::size_t i = 0; i < values.size(); ++i)
            PyTuple_SET_ITEM(row.ptr(), static_cast<Py_ssize_t>(i), value_of(values[i]).release().ptr());
        rows.append(row);
    }

    od::RowReader reader_;
};

nb::str name_key(nb::handle nome) {
    if (!PyUnicode_Check(nome.ptr()))
        raise_error(PyExc_TypeError, "name_key() argument 'nome' must be str, not %s", Py_TYPE(nome.ptr())->tp_name);
    std::u32string key;
    with_code_units(nome.ptr(), [&](const auto* s, std::size_t n) { od::name_key_append(s, n, key); });
    return make_str(key);
}

}  // namespace
NB_MODULE(opendata, m) {
    m.doc() = "Leitura dos arquivos de dados abertos do CNPJ (Receita Federal) e chave de busca por nome.";
    m.attr("TEXT") = int(kText);
    m.attr("DATE") = int(kDate);
    m.attr("CODE") = int(kCode);
    m.attr("KEY") = int(kKey);
    m.attr("CNPJ") = int(kCnpj);

    nb::class_<LineReader>(m, "LineReader",
                           "Lê as linhas de um arquivo do leiaute publicado, em pedaços, e devolve as tuplas do plano.")
        .def(nb::init<std::size_t, std::vector<std::pair<int, int>>, long long, long long>(), nb::arg("columns"),
             nb::arg("plan"), nb::arg("line") = 0, nb::arg("offset") = 0,
             "columns: campos de cada linha; plan: (operação, coluna) de cada valor da tupla; line e offset: linhas\n"
             "e bytes já lidos antes do primeiro pedaço (retomada).")
        .def("feed", &LineReader::feed, nb::arg("chunk"), "As tuplas das linhas completas do pedaço.")
        .def("finish", &LineReader::finish, "A tupla de uma última linha sem quebra de linha.")
        .def("take_errors", &LineReader::take_errors,
             "(número da linha, motivo) de cada linha malformada desde a última chamada.")
        .def_prop_ro("line", &LineReader::line, "Linhas completas lidas (a última tem este número).")
        .def_prop_ro("offset", &LineReader::offset, "Bytes das linhas completas lidas.");

    m.def("name_key", &name_key, nb::arg("nome").none(),
          nb::sig("def name_key(nome: str) -> str"),
          "Chave de busca de um nome: sem acentos, em minúsculas, com pontuação e espaços reduzidos a um espaço.");
}
