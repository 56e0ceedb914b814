// The last step of a page, for the host's Tesseract reader: which pages that
// no service read go to Tesseract, and what such a page's text, source and
// readability are afterwards.  The rules and the threshold are the core's
// (quillon/ocr.hpp); these functions only convert.
#include "ocr/parts.hpp"

namespace qo = quillon::ocr;
using namespace ocr_detail;

namespace {

std::size_t length_of(nb::handle text, const char* fn, const char* param) {
    text_arg(text, fn, param);
    return static_cast<std::size_t>(PyUnicode_GET_LENGTH(text.ptr()));
}

bool reads_with_tesseract(nb::handle residue, nb::handle has_images, nb::handle has_drawings) {
    return qo::reads_with_tesseract(
        {length_of(residue, "_reads_with_tesseract", "residue"), truth(has_images), truth(has_drawings)});
}

nb::tuple after_tesseract(nb::handle residue, nb::handle reading, nb::handle has_images) {
    constexpr const char* fn = "_after_tesseract";
    qo::ScannedPage page{length_of(residue, fn, "residue"), truth(has_images), false};
    qo::ScannedOutcome o = qo::after_tesseract(page, length_of(reading, fn, "reading"));
    nb::object text = o.text == qo::ScannedText::Joined    ? join_blank_line(residue, reading)
                      : o.text == qo::ScannedText::Reading ? nb::borrow(reading)
                                                           : nb::borrow(residue);
    return nb::make_tuple(text, qo::source_name(o.source), nb::bool_(o.unreadable));
}

}  // namespace

void register_scanned(nb::module_& m) {
    m.def("_reads_with_tesseract", &reads_with_tesseract, param("residue"), param("has_images"),
          param("has_drawings"),
          nb::sig("def _reads_with_tesseract(residue: str, has_images: bool, has_drawings: bool) -> bool"),
          "Whether Tesseract reads a page that no service read, given its trimmed text layer and what is drawn "
          "on it.");
    m.def("_after_tesseract", &after_tesseract, param("residue"), param("reading"), param("has_images"),
          nb::sig("def _after_tesseract(residue: str, reading: str, has_images: bool) -> tuple[str, str, bool]"),
          "(text, source, unreadable) of such a page after Tesseract read `reading` from it (\"\" when it was "
          "not read).");
}
