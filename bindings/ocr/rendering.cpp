// Page rendering: one page of an open document as a PNG image or as a
// one-page PDF.  Neither catches anything; the source document stays open
// and unchanged.
#include "ocr/parts.hpp"

namespace qo = quillon::ocr;
using namespace ocr_detail;

namespace {

constexpr const char* kRenderImageDoc = "Renderiza uma página como imagem PNG.";

constexpr const char* kRenderPdfDoc =
    "Extrai uma página como PDF de uma página, sem rasterizar.\n"
    "\n"
    "    O Gemini cobra PDF por página de documento (258 tokens), enquanto o mesmo\n"
    "    conteúdo rasterizado a 150 DPI vira 6 tiles de 768x768 (~1.548 tokens).\n"
    "    ";

nb::object render_page_as_image(nb::handle doc, nb::handle page_num_arg, nb::handle dpi_arg) {
    nb::int_ page_num = integer_arg(page_num_arg, "render_page_as_image", "page_num");
    long long dpi = integer_arg_ll(dpi_arg, "render_page_as_image", "dpi");
    nb::object page = doc.attr("load_page")(page_num);
    double zoom = qo::zoom_for_dpi(dpi);
    nb::object matrix = ocr_ns.get(kFitz).attr("Matrix")(zoom, zoom);
    nb::object pixmap = page.attr("get_pixmap")("matrix"_a = matrix);
    return pixmap.attr("tobytes")("png");
}

nb::object render_page_as_pdf(nb::handle doc, nb::handle page_num_arg) {
    nb::int_ page_num = integer_arg(page_num_arg, "render_page_as_pdf", "page_num");
    // The page-range copy clamps an index outside the document instead of
    // failing (the page count copies the last page, -1 copies every page).
    // Loading the page first gives the library's own error for a bad index
    // and the page's real number for a negative one.
    nb::object number = doc.attr("load_page")(page_num).attr("number");
    nb::object single = ocr_ns.get(kFitz).attr("open")();
    return closing(single, [&] {
        single.attr("insert_pdf")(doc, "from_page"_a = number, "to_page"_a = number);
        return nb::object(single.attr("tobytes")());
    });
}

}  // namespace

void register_rendering(nb::module_& m) {
    m.def("render_page_as_image", &render_page_as_image, param("doc"), param("page_num"), param("dpi") = 150,
          nb::sig("def render_page_as_image(doc: pymupdf.Document, page_num: int, dpi: int = 150) -> bytes"),
          kRenderImageDoc);
    m.def("render_page_as_pdf", &render_page_as_pdf, param("doc"), param("page_num"),
          nb::sig("def render_page_as_pdf(doc: pymupdf.Document, page_num: int) -> bytes"), kRenderPdfDoc);
}
