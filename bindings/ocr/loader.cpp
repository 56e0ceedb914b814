// PDF loading with OCR: a PDF read page by page into the host's Page
// records, thin pages recognised by OCR or a vision model; and the smart entry
// that asks the host's page analyser first.
#include "ocr/parts.hpp"

namespace qo = quillon::ocr;
using namespace ocr_detail;

namespace {

// The arguments both entries document alike, after their own first ones.
#define QUILLON_OCR_SHARED_ARGS                                                                   \
    "        filename: Nome para log quando source é bytes (ignorado se source é Path)\n"            \
    "        ocr_fallback: \"off\" (padrão, só Azure OCR), \"auto\" (Vision LLM quando o OCR\n"     \
    "            não retorna texto) ou \"force\" (só Vision LLM, sem Azure OCR)\n"                   \
    "        llm_caller: Callable para Vision LLM fallback\n"                                      \
    "        provider: Provider do Vision LLM (\"openai\", \"azure\" ou \"google\")\n"              \
    "        google_client: Cliente do Google quando provider é \"google\"\n"                      \
    "        google_model: Modelo do Google quando provider é \"google\"\n"                        \
    "\n"                                                                                      \
    "    Returns:\n"                                                                          \
    "        Lista de Page objects\n"                                                         \
    "    "

constexpr const char* kLoadPdfWithOcrDoc =
    "Carrega PDF aplicando OCR nas páginas com imagem.\n"
    "\n"
    "    Args:\n"
    "        source: Caminho do arquivo ou bytes do PDF\n"
    "        use_azure: Se True, usa Azure OCR\n" QUILLON_OCR_SHARED_ARGS;

constexpr const char* kProcessPdfSmartDoc =
    "Processa PDF de forma inteligente, aplicando OCR quando necessário.\n"
    "\n"
    "    Args:\n"
    "        source: Caminho do arquivo ou bytes do PDF\n"
    "        min_chars: Mínimo de caracteres para considerar página com texto\n" QUILLON_OCR_SHARED_ARGS;

#undef QUILLON_OCR_SHARED_ARGS

// The arguments both entries share, checked before any work.
struct Request {
    nb::handle source;
    PyObject* filename;  // nullptr for None
    nb::handle ocr_fallback, llm_caller, provider, google_client, google_model;
};

Request check_request(const char* fn, nb::handle source, nb::handle filename, nb::handle ocr_fallback,
                      nb::handle llm_caller, nb::handle provider, nb::handle google_client,
                      nb::handle google_model) {
    Request r{source, text_or_none_arg(filename, fn, "filename"), text_arg(ocr_fallback, fn, "ocr_fallback"),
              llm_caller, text_arg(provider, fn, "provider"), google_client, google_model};
    text_or_none_arg(google_model, fn, "google_model");
    return r;
}

// The document of a source: a path is opened as a file, anything else is
// content made into bytes by the host and opened as a PDF.
nb::object open_document(const Request& r) {
    // Held: turning a file-like source into bytes runs its read(), which may
    // rebind the module's fitz.
    nb::object fitz = ocr_ns.get(kFitz);
    if (is_path_source(r.source)) {
        if (PyUnicode_Check(r.source.ptr()) && PyUnicode_GET_LENGTH(r.source.ptr()) == 0) {
            // An empty name would open a new, empty document: zero pages
            // loaded from a file that was never read.
            nb::object not_found = attr_or_none(fitz, "FileNotFoundError");
            raise_error(not_found.is_none() ? PyExc_FileNotFoundError : not_found.ptr(), "no such file: ''");
        }
        return fitz.attr("open")(r.source);
    }
    nb::object content = ocr_ns.call(kEnsureBytes, r.source);
    return fitz.attr("open")("stream"_a = content, "filetype"_a = "pdf");
}

nb::object make_page(nb::handle text, long long number, const qo::PageOutcome& o) {
    nb::dict metadata = dict_of(nb::arg(qo::kPageKey) = number, nb::arg(qo::kSourceKey) = qo::source_name(o.source));
    if (o.records_failure) metadata[qo::kOcrFailedKey] = nb::bool_(o.ocr_failed);
    return ocr_ns.get(kPage)("text"_a = text, "metadata"_a = metadata);
}

class PageReader {
public:
    PageReader(const Request& r, bool use_azure, nb::handle doc) : r_(r), doc_(doc) {
        options_ = {use_azure, QUILLON_OCR_ON_TEXT(qo::parse_fallback_mode, r.ocr_fallback), !r.llm_caller.is_none()};
    }

    // Appends the record of page `index` (0-based) to `documents`, if any.
    void read(Py_ssize_t index, nb::list& documents) {
        long long n = static_cast<long long>(index) + 1;
        nb::str text = strip(doc_.attr("load_page")(index).attr("get_text")());
        if (qo::is_text_page(static_cast<std::size_t>(PyUnicode_GET_LENGTH(text.ptr())))) {
            documents.append(make_page(text, n, qo::kTextPageOutcome));
            return;
        }
        log_info(ocr_ns, "Preparando página %d para OCR...", n);

        qo::PageFlow flow(options_);
        nb::object extracted = nb::none();
        for (auto step = flow.next(); step != qo::PageFlow::Step::Done; step = flow.next()) {
            if (const char* note = qo::step_note(step)) log_info(ocr_ns, note, n);
            extracted = step == qo::PageFlow::Step::Ocr ? ocr(index) : vision(index);
            flow.record(classify(extracted));
        }

        qo::PageOutcome outcome = flow.outcome();
        nb::str final_text = outcome.joins_text ? join_blank_line(text, extracted) : text;
        if (outcome.ocr_failed)
            log_warning(ocr_ns, "Página %d: OCR não retornou texto; seguindo com %d chars de resíduo.", n,
                        PyUnicode_GET_LENGTH(text.ptr()));
        bool empty = PyUnicode_GET_LENGTH(final_text.ptr()) == 0;
        if (!qo::keeps_page(empty, outcome.ocr_failed)) return;
        documents.append(make_page(final_text, n, outcome));
        log_info(ocr_ns, "Página %d: %d chars via %s", n, PyUnicode_GET_LENGTH(final_text.ptr()),
                 qo::source_name(outcome.source));
    }

private:
    nb::object ocr(Py_ssize_t index) {
        nb::object image = ocr_ns.call(kRenderPageAsImage, doc_, index);
        return nb::borrow(ocr_ns.get(kPerformAzureOcr))(image, "image_format"_a = "png");
    }

    nb::object vision(Py_ssize_t index) {
        auto [payload, payload_format] = unpack_pair(ocr_ns.call(kVisionPayload, doc_, index, r_.provider));
        return nb::borrow(ocr_ns.get(kPerformVisionFallback))(
            payload, "llm_caller"_a = r_.llm_caller, "image_format"_a = payload_format, "provider"_a = r_.provider,
            "google_client"_a = r_.google_client, "google_model"_a = r_.google_model);
    }

    const Request& r_;
    nb::handle doc_;
    qo::LoadOptions options_;
};

nb::list load_pdf_with_ocr(nb::handle source, nb::handle use_azure, nb::handle filename, nb::handle ocr_fallback,
                           nb::handle llm_caller, nb::handle provider, nb::handle google_client,
                           nb::handle google_model) {
    Request r = check_request("load_pdf_with_ocr", source, filename, ocr_fallback, llm_caller, provider,
                              google_client, google_model);
    bool azure = truth(use_azure);

    nb::object doc = open_document(r);
    return closing(doc, [&] {
        nb::list documents;
        nb::str name = display_name(source, r.filename);
        Py_ssize_t count = checked(PyLong_AsSsize_t(nb::object(doc.attr("page_count")).ptr()));
        log_info(ocr_ns, "Processando PDF com OCR: %s (%d páginas)", name, count);
        PageReader reader(r, azure, doc);
        // One page at a time: each page object is released before the next
        // one is loaded.
        for (Py_ssize_t i = 0; i < count; ++i) reader.read(i, documents);
        return documents;
    });
}

nb::object process_pdf_smart(nb::handle source, nb::handle min_chars_arg, nb::handle filename,
                             nb::handle ocr_fallback, nb::handle llm_caller, nb::handle provider,
                             nb::handle google_client, nb::handle google_model) {
    nb::int_ min_chars = integer_arg(min_chars_arg, "process_pdf_smart", "min_chars");
    Request r = check_request("process_pdf_smart", source, filename, ocr_fallback, llm_caller, provider,
                              google_client, google_model);

    nb::object analyze_pages = import_name("quillon.utils", "analyze_pages");
    nb::object load_pdf = import_name("quillon.utils", "load_pdf");
    nb::str name = display_name(source, r.filename);

    nb::object perfil = analyze_pages(source, "min_chars_per_page"_a = min_chars, "filename"_a = name);
    nb::object paginas_ocr = perfil["paginas_ocr"];
    if (truth(paginas_ocr)) {
        Py_ssize_t needing = checked(PyObject_Length(paginas_ocr.ptr()));
        log_info(ocr_ns, "PDF %s: %d de %d pagina(s) precisam de OCR (%s)", name, needing,
                 nb::object(perfil["num_pages"]), nb::object(perfil["doc_type"]));
        return nb::borrow(ocr_ns.get(kLoadPdfWithOcr))(
            source, "filename"_a = filename, "ocr_fallback"_a = ocr_fallback, "llm_caller"_a = llm_caller,
            "provider"_a = provider, "google_client"_a = google_client, "google_model"_a = google_model);
    }
    return load_pdf(source, "filename"_a = name_or_default(r.filename));
}

// The parameters both signatures share, after their own first two.
#define QUILLON_OCR_SHARED_PARAMS                                                                  \
    "filename: str | None = None, ocr_fallback: str = 'off', "                                    \
    "llm_caller: collections.abc.Callable[[list[dict[str, typing.Any]], None], typing.Any] | None = None, " \
    "provider: str = 'openai', google_client: typing.Any = None, google_model: str | None = None) "  \
    "-> list[quillon.models.result.Page]"

constexpr const char* kLoadSig =
    "def load_pdf_with_ocr(source: str | os.PathLike[str] | bytes | typing.Any, use_azure: bool = True, "
    QUILLON_OCR_SHARED_PARAMS;

constexpr const char* kSmartSig =
    "def process_pdf_smart(source: str | os.PathLike[str] | bytes | typing.Any, min_chars: int = 100, "
    QUILLON_OCR_SHARED_PARAMS;

#undef QUILLON_OCR_SHARED_PARAMS

// An entry over a PDF source: `source`, its own second parameter, then the
// ones both entries share.
template <class F, class Second>
void def_entry(nb::module_& m, const char* name, F f, Second second, const char* sig, const char* doc) {
    m.def(name, f, param("source"), second, param("filename") = nb::none(), param("ocr_fallback") = "off",
          param("llm_caller") = nb::none(), param("provider") = "openai", param("google_client") = nb::none(),
          param("google_model") = nb::none(), nb::sig(sig), doc);
}

}  // namespace

void register_loader(nb::module_& m) {
    def_entry(m, "load_pdf_with_ocr", &load_pdf_with_ocr, param("use_azure") = true, kLoadSig, kLoadPdfWithOcrDoc);
    def_entry(m, "process_pdf_smart", &process_pdf_smart, param("min_chars") = 100, kSmartSig, kProcessPdfSmartDoc);
}
