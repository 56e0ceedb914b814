// What the files of the ocr module share: its namespace, the names of its
// attributes, the registration function of each part and a few helpers for
// the Python objects they pass around.
#pragma once

#include <Python.h>
#include <nanobind/nanobind.h>

#include <utility>

#include "quillon/ocr.hpp"
#include "toolkit/toolkit.hpp"

namespace nb = nanobind;
using namespace quillon::bind;
using namespace nb::literals;

// The module's attributes (load-time names, constants, logger).
extern ModuleNamespace ocr_ns;

// Load-time names, read at each call so that a patched one takes effect.
inline constexpr Name kFitz{"fitz"};
inline constexpr Name kGetAzureConfig{"get_azure_config"};
inline constexpr Name kVisionFallbackPrompt{"VISION_FALLBACK_PROMPT"};
inline constexpr Name kEnsureBytes{"_ensure_bytes"};
inline constexpr Name kPage{"Page"};
inline constexpr Name kTimeoutSeconds{"AZURE_OCR_TIMEOUT_SECONDS"};

// Module-level functions that call one another through the module.
inline constexpr Name kRenderPageAsImage{"render_page_as_image"};
inline constexpr Name kRenderPageAsPdf{"render_page_as_pdf"};
inline constexpr Name kPerformAzureOcr{"perform_azure_ocr"};
inline constexpr Name kIsTransientAzureError{"_is_transient_azure_error"};
inline constexpr Name kVisionPayload{"_vision_payload"};
inline constexpr Name kPerformVisionFallback{"perform_vision_fallback"};
inline constexpr Name kLoadPdfWithOcr{"load_pdf_with_ocr"};

void register_rendering(nb::module_& m);
void register_azure_ocr(nb::module_& m);
void register_vision(nb::module_& m);
void register_loader(nb::module_& m);
void register_scanned(nb::module_& m);

namespace ocr_detail {

// Image and PDF bytes: any object with the buffer protocol (bytes,
// bytearray, memoryview...).
void bytes_like_arg(nb::handle h, const char* fn, const char* param);

// A new str returned by the C API, or the error it raised.
inline nb::str owned_str(PyObject* r) { return nb::steal<nb::str>(owned(r).release()); }

// str.strip() of a str (anything else is a TypeError); s itself when there
// is nothing to remove.
nb::str strip(nb::handle s);

// `s.strip() or None` of a str: a recognised text, or None when it holds
// nothing but white space.
nb::object stripped_or_none(nb::handle s);

// f(code units of the str s): one of the core's templates over them.
#define QUILLON_OCR_ON_TEXT(f, s) with_code_units((s).ptr(), [](const auto* d, std::size_t n) { return f(d, n); })

// `(first + "\n\n" + second).strip()` of two str: a residue and a recognised
// text in one page record.
nb::str join_blank_line(nb::handle first, nb::handle second);

// str.lower() of a str.
nb::str lower(nb::handle s);

// getattr(obj, name, None): only an AttributeError means "absent".
nb::object attr_or_none(nb::handle obj, const char* name);

// `a, b = value`, with the errors of Python's unpacking.
std::pair<nb::object, nb::object> unpack_pair(nb::handle value);

// How a recognition step's answer counts: None, a false value, a non-empty
// text, or a true value of another kind.
quillon::ocr::Recognised classify(nb::handle result);

// Calls obj.close(), keeping the error already on its way: an error of
// close() itself is dropped.  For clean-up while another error propagates.
void close_quietly(nb::handle obj) noexcept;

// Whether a Python error is an Exception (what `except Exception` catches);
// KeyboardInterrupt, SystemExit and GeneratorExit are not.
inline bool is_exception(const nb::python_error& e) { return e.matches(PyExc_Exception); }

// f() with `obj` closed afterwards: by obj.close() when f returns, quietly
// when it throws (the error of f is the one that propagates).
template <class F>
auto closing(nb::handle obj, F&& f) {
    try {
        auto result = f();
        obj.attr("close")();
        return result;
    } catch (...) {
        close_quietly(obj);
        throw;
    }
}

// f(), or None when it raises an Exception, logged as logger.error(fmt, error).
// KeyboardInterrupt and the like propagate.
template <class F>
nb::object none_on_error(const char* fmt, F&& f) {
    try {
        return f();
    } catch (nb::python_error& e) {
        if (!is_exception(e)) throw;
        log_error(ocr_ns, fmt, e.value());
        return nb::none();
    }
}

// dict(**kwargs): a dict with the keys in the order given.
template <class... Items>
nb::dict dict_of(Items&&... items) {
    return nb::borrow<nb::dict>(nb::handle(reinterpret_cast<PyObject*>(&PyDict_Type))(std::forward<Items>(items)...));
}

// The name a source without a path is logged under: the caller's non-empty
// filename, else "document.pdf".
nb::str name_or_default(PyObject* filename);

// A path source: a str or an os.PathLike.
bool is_path_source(nb::handle source);

// The name a source is logged under: a path's last component, else the
// caller's non-empty filename, else "document.pdf".
nb::str display_name(nb::handle source, PyObject* filename);

}  // namespace ocr_detail
