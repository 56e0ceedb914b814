// quillon.registry.opendata: the line reader of the importer of the open CNPJ
// data, and the key registry names are searched by.
//
// The importer hands the reader the decompressed bytes of one file in chunks;
// the core's LineStream cuts them into lines (carry, CR/LF, overlong lines);
// here each line is checked against the file's field count and turned into a
// row tuple by the file's plan (which fields, made into what).  Lines that do
// not read are not rows: each is noted with its line number and why, and
// reading goes on.
#include <Python.h>
#include <nanobind/nanobind.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <string>
#include <utility>
#include <vector>

#include "quillon/opendata.hpp"
#include "toolkit/strings.hpp"

namespace nb = nanobind;
namespace od = quillon::opendata;

namespace {

using od::kCnpj, od::kCode, od::kDate, od::kKey, od::kText;

nb::object latin1(const od::Field& f) {
    PyObject* s = PyUnicode_DecodeLatin1(f.data, static_cast<Py_ssize_t>(f.size), nullptr);
    if (!s) throw nb::python_error();
    return nb::steal(s);
}

nb::str name_key_of(const od::Field& f) {
    std::u32string key;
    od::name_key_append(reinterpret_cast<const unsigned char*>(f.data), f.size, key);
    return quillon::bind::make_str(key);
}

// Turns the lines of a LineStream into row tuples; the stream keeps the
// carry between chunks, the line numbers and the byte counts.
class LineReader {
public:
    LineReader(std::size_t columns, std::vector<std::pair<int, int>> plan, long long line, long long offset)
        : columns_(columns), plan_(std::move(plan)), stream_(line, offset) {
        for (auto [op, column] : plan_)
            if (!od::plan_step_fits(op, column, columns_))
                throw nb::value_error("plano inválido: operação ou coluna fora do leiaute");
    }

    // Rows of the complete lines in `chunk` (after what earlier chunks left).
    nb::list feed(nb::bytes chunk) {
        nb::list rows;
        stream_.feed(
            static_cast<const char*>(chunk.data()), chunk.size(),
            [&](const char* line, std::size_t len) { read_line(line, len, rows); }, [&] { overlong(); });
        return rows;
    }

    // The row of a last line that has no line break after it.
    nb::list finish() {
        nb::list rows;
        stream_.finish([&](const char* line, std::size_t len) { read_line(line, len, rows); }, [&] { overlong(); });
        return rows;
    }

    // (line number, reason) of every line that did not read since the last call.
    std::vector<std::pair<long long, std::string>> take_errors() { return std::exchange(errors_, {}); }

    long long line() const { return stream_.line(); }
    long long offset() const { return stream_.offset(); }

private:
    void overlong() { errors_.emplace_back(stream_.line(), "linha longa demais (mais de 1 MiB)"); }

    void read_line(const char* line, std::size_t len, nb::list& rows) {
        if (len == 0) return;  // a blank line carries nothing
        if (__builtin_memchr(line, '\0', len)) {
            // No text column of a database holds one, and no published line has one.
            errors_.emplace_back(stream_.line(), "byte nulo na linha");
            return;
        }
        od::LineError error = splitter_.split(line, len);
        if (error != od::LineError::kNone) {
            errors_.emplace_back(stream_.line(), od::line_error_reason(error));
            return;
        }
        const auto& fields = splitter_.fields();
        if (fields.size() != columns_) {
            errors_.emplace_back(stream_.line(), "esperados " + std::to_string(columns_) + " campos, encontrados " +
                                                     std::to_string(fields.size()));
            return;
        }
        nb::object row = nb::steal(PyTuple_New(static_cast<Py_ssize_t>(plan_.size())));
        if (!row.is_valid()) throw nb::python_error();
        for (std::size_t i = 0; i < plan_.size(); ++i) {
            nb::object value = convert(plan_[i], fields);
            if (!value.is_valid()) return;  // the field did not read: noted in errors_
            PyTuple_SET_ITEM(row.ptr(), static_cast<Py_ssize_t>(i), value.release().ptr());
        }
        rows.append(row);
    }

    // The value of one plan step; an invalid object when the field does not read.
    nb::object convert(std::pair<int, int> step, const std::vector<od::Field>& fields) {
        auto [op, column] = step;
        const od::Field& f = fields[static_cast<std::size_t>(column)];
        switch (op) {
            case kText:
                return latin1(f);
            case kDate: {
                char iso[10];
                return od::iso_date(f.data, f.size, iso) ? nb::object(nb::str(iso, 10)) : nb::none();
            }
            case kCode: {
                long long code = 0;
                if (f.size == 0) return nb::none();
                if (od::parse_code(f.data, f.size, code)) return nb::int_(code);
                errors_.emplace_back(stream_.line(), "campo " + std::to_string(column + 1) + ": código não numérico");
                return nb::object();
            }
            case kKey:
                return name_key_of(f);
            default: {  // kCnpj
                std::string cnpj;
                for (int k = 0; k < 3; ++k) cnpj.append(fields[column + k].data, fields[column + k].size);
                return latin1({cnpj.data(), cnpj.size()});
            }
        }
    }

    std::size_t columns_;
    std::vector<std::pair<int, int>> plan_;
    od::LineStream stream_;
    od::LineSplitter splitter_;
    std::vector<std::pair<long long, std::string>> errors_;
};

nb::str name_key(nb::handle nome) {
    if (!PyUnicode_Check(nome.ptr()))
        throw nb::type_error(("name_key() argument 'nome' must be str, not " +
                              std::string(Py_TYPE(nome.ptr())->tp_name))
                                 .c_str());
    std::u32string key;
    quillon::bind::with_code_units(nome.ptr(),
                                   [&](const auto* s, std::size_t n) { od::name_key_append(s, n, key); });
    return quillon::bind::make_str(key);
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
