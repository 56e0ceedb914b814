// quillon.ocr: PDFs page by page, thin pages to OCR or a vision model.
#include <nanobind/nanobind.h>

#include "toolkit/toolkit.hpp"

namespace nb = nanobind;
using namespace quillon::bind;

namespace {

ModuleNamespace ns;  // the module's attributes

}  // namespace

NB_MODULE(ocr, m) {
    ns.attach(m);
    m.doc() = "Módulo OCR usando Azure AI Vision com fallback para Vision LLM.\n";
    bind_logger(ns);
}
