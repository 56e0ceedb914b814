// quillon.ocr: PDFs page by page, thin pages to OCR or a vision model.  Each
// part registers its functions from its own file; the decisions they take
// (thresholds, routes, page records, which service errors to repeat) are in
// the core's quillon/ocr.hpp.
#include "ocr/parts.hpp"

ModuleNamespace ocr_ns;

namespace {

constexpr const char* kModuleDoc = "Módulo OCR usando Azure AI Vision com fallback para Vision LLM.\n";

// The Azure client logs every request and answer at info level on this channel.
constexpr const char* kAzureHttpLogger = "azure.core.pipeline.policies.http_logging_policy";

}  // namespace

NB_MODULE(ocr, m) {
    ocr_ns.attach(m);
    m.doc() = kModuleDoc;
    bind_logger(ocr_ns);

    // PyMuPDF is heavy: imported on first use, still patchable as `fitz`.
    ocr_ns.lazy_module("fitz", "pymupdf");
    ocr_ns.import_from("quillon.config", "get_azure_config");
    ocr_ns.import_from("quillon.config", "VISION_FALLBACK_PROMPT");
    ocr_ns.import_from("quillon.utils", "_ensure_bytes");
    ocr_ns.import_from("quillon.models.result", "Page");

    ocr_ns.set("AZURE_OCR_TIMEOUT_SECONDS", nb::int_(quillon::ocr::kTimeoutSeconds));
    nb::module_ logging = nb::module_::import_("logging");
    logging.attr("getLogger")(kAzureHttpLogger).attr("setLevel")(logging.attr("WARNING"));

    register_rendering(m);
    register_azure_ocr(m);
    register_vision(m);
    register_loader(m);
    register_scanned(m);

    ocr_ns.set_all({"render_page_as_image", "render_page_as_pdf", "perform_azure_ocr", "perform_vision_fallback",
                    "load_pdf_with_ocr", "process_pdf_smart", "AZURE_OCR_TIMEOUT_SECONDS"});
}
