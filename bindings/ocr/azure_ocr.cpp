// Azure OCR with retry: one image read by Azure AI Vision Image Analysis
// (READ), after it is normalised, with transient errors repeated through a
// tenacity policy built for each call.  A failed recognition is logged and
// gives None; it never raises.
#include "ocr/parts.hpp"

#include <climits>
#include <optional>
#include <string>

namespace qo = quillon::ocr;
using namespace ocr_detail;

namespace {

constexpr const char* kPerformAzureOcrDoc =
    "Realiza OCR usando Azure AI Vision com retry e backoff exponencial.\n"
    "\n"
    "    Args:\n"
    "        image_bytes: Bytes da imagem\n"
    "        image_format: Formato da imagem\n"
    "\n"
    "    Returns:\n"
    "        Texto extraído ou None\n"
    "    ";

constexpr const char* kIsTransientDoc =
    "Decide se vale repetir a chamada de OCR.\n"
    "\n"
    "    Credencial errada (401/403) e imagem recusada (400) não melhoram na\n"
    "    segunda tentativa: antes o retry disparava em qualquer exceção e gastava\n"
    "    três chamadas e ~17s de backoff para devolver o mesmo erro.\n"
    "    ";

// --- error classification ----------------------------------------------------

bool is_transient_azure_error(nb::handle exc) {
    // An interrupt (KeyboardInterrupt, SystemExit) is no failure of the
    // service: it ends the call at once instead of being retried.
    if (!nb::isinstance(exc, PyExc_Exception) && nb::isinstance(exc, PyExc_BaseException)) return false;
    nb::object status = attr_or_none(exc, "status_code");
    if (status.is_none()) {
        nb::object response = attr_or_none(exc, "response");
        if (!response.is_none()) status = attr_or_none(response, "status_code");
    }
    if (status.is_none()) return qo::is_transient_status(std::nullopt);
    if (PyLong_Check(status.ptr())) {
        int overflow = 0;
        long long v = checked(PyLong_AsLongLongAndOverflow(status.ptr(), &overflow));
        return qo::is_transient_status(overflow > 0 ? LLONG_MAX : overflow < 0 ? LLONG_MIN : v);
    }
    // A status that is no int (a float, a text...) compares as Python would
    // compare it, errors included.
    auto compares = [&](long long status_code, int op) {
        return checked(PyObject_RichCompareBool(status.ptr(), nb::int_(status_code).ptr(), op)) == 1;
    };
    return compares(qo::kThrottledStatus, Py_EQ) || compares(qo::kFirstServerErrorStatus, Py_GE);
}

// --- one attempt ---------------------------------------------------------------

// The READ lines as the core assembles them into the page text; None when
// there is nothing to read.
nb::object read_text(nb::handle result) {
    nb::object read = attr_or_none(result, "read");
    if (read.is_none() || !truth(read)) return nb::none();
    qo::ReadText page;
    for (nb::handle block : read.attr("blocks")) {
        for (nb::handle line : block.attr("lines")) {
            nb::object text = line.attr("text");
            if (!PyUnicode_Check(text.ptr()))
                raise_error(PyExc_TypeError, "OCR line text must be str, not %.200s", Py_TYPE(text.ptr())->tp_name);
            with_code_units(text.ptr(), [&](const auto* d, std::size_t n) { page.add_line(d, n); });
        }
    }
    std::u32string text = page.take();
    return text.empty() ? nb::none() : nb::object(make_str(text));
}

nb::object call_ocr(nb::handle endpoint, nb::handle key, nb::handle img_data) {
    // The SDK is loaded on every attempt: a missing SDK is an attempt's error.
    nb::object client_type = import_name("azure.ai.vision.imageanalysis", "ImageAnalysisClient");
    nb::object visual_features = import_name("azure.ai.vision.imageanalysis.models", "VisualFeatures");
    nb::object key_credential = import_name("azure.core.credentials", "AzureKeyCredential");

    // The retry policy of the call is the only one: with the pipeline's own
    // retries left on, every attempt would repeat 429 and 5xx answers itself
    // (three more requests, seconds of back-off each) before this one sees it.
    nb::object client = client_type("endpoint"_a = endpoint, "credential"_a = key_credential(key), "retry_total"_a = 0);
    auto analyze = [&] {
        nb::list features;
        features.append(visual_features.attr("READ"));
        nb::object timeout = nb::borrow(ocr_ns.get(kTimeoutSeconds));
        return nb::object(client.attr("analyze")("image_data"_a = img_data, "visual_features"_a = features,
                                                 "language"_a = "pt", "connection_timeout"_a = timeout,
                                                 "read_timeout"_a = timeout));
    };
    // A client without close() (a stand-in) is simply dropped.
    nb::object result = PyObject_HasAttrString(client.ptr(), "close") ? closing(client, analyze) : analyze();
    return read_text(result);
}

void log_ocr_retry(nb::handle retry_state) {
    nb::object outcome = attr_or_none(retry_state, "outcome");
    nb::object exc = outcome.is_none() ? nb::none() : outcome.attr("exception")();
    nb::object name = exc.is_none() ? nb::str("unknown") : nb::handle(Py_TYPE(exc.ptr())).attr("__name__");
    log_warning(ocr_ns, qo::retry_note(), retry_state.attr("attempt_number"), name);
}

// --- the call ------------------------------------------------------------------

// The image as the service gets it: RGB, at most 16000 px on the longer side,
// re-encoded in the caller's format; None when it is too small to read.
nb::object normalise_image(nb::handle image_bytes, nb::handle image_format) {
    nb::object image_module = nb::module_::import_("PIL.Image");
    nb::object io = nb::module_::import_("io");
    nb::object image = image_module.attr("open")(io.attr("BytesIO")(image_bytes)).attr("convert")("RGB");
    auto [w, h] = unpack_pair(image.attr("size"));
    qo::ImagePlan plan = qo::plan_image(integer_arg_ll(w, "perform_azure_ocr", "image width"),
                                        integer_arg_ll(h, "perform_azure_ocr", "image height"));
    if (plan.action == qo::ImagePlan::Action::Refuse) return nb::none();
    if (plan.action == qo::ImagePlan::Action::Shrink)
        image = image.attr("resize")(nb::make_tuple(plan.width, plan.height),
                                     "resample"_a = image_module.attr("Resampling").attr("LANCZOS"));
    nb::str fmt = lower(image_format);
    nb::object buffer = io.attr("BytesIO")();
    image.attr("save")(buffer, "format"_a = qo::encoder_name(QUILLON_OCR_ON_TEXT(qo::encoder_for, fmt)));
    return buffer.attr("getvalue")();
}

nb::object make_retry_policy(nb::handle endpoint, nb::handle key, nb::object& attempt) {
    nb::object tenacity = nb::module_::import_("tenacity");
    nb::object ep = nb::borrow(endpoint), k = nb::borrow(key);
    attempt = nb::cpp_function([ep, k](nb::handle img_data) { return call_ocr(ep, k, img_data); },
                               nb::arg("img_data"), nb::name("_call_ocr"));
    nb::object log_retry = nb::cpp_function(&log_ocr_retry, nb::arg("retry_state"), nb::name("_log_ocr_retry"));
    return tenacity.attr("Retrying")(
        "stop"_a = tenacity.attr("stop_after_attempt")(qo::kMaxAttempts),
        "wait"_a = tenacity.attr("wait_random_exponential")("multiplier"_a = qo::kBackoffMultiplier,
                                                             "max"_a = qo::kBackoffMaxSeconds),
        "retry"_a = tenacity.attr("retry_if_exception")(ocr_ns.get(kIsTransientAzureError)),
        "before_sleep"_a = log_retry, "reraise"_a = true);
}

nb::object perform_azure_ocr(nb::handle image_bytes, nb::handle image_format) {
    bytes_like_arg(image_bytes, "perform_azure_ocr", "image_bytes");
    text_arg(image_format, "perform_azure_ocr", "image_format");

    auto [endpoint, key] = unpack_pair(ocr_ns.call(kGetAzureConfig));
    if (!truth(key)) {
        log_warning(ocr_ns, "AZURE_AI_VISION_KEY não configurada!");
        return nb::none();
    }
    nb::object attempt;
    nb::object retrying = make_retry_policy(endpoint, key, attempt);
    return none_on_error("Azure OCR falhou após retries: %s", [&]() -> nb::object {
        nb::object data = normalise_image(image_bytes, image_format);
        return data.is_none() ? data : retrying(attempt, data);
    });
}

}  // namespace

void register_azure_ocr(nb::module_& m) {
    m.def("perform_azure_ocr", &perform_azure_ocr, param("image_bytes"), param("image_format") = "png",
          nb::sig("def perform_azure_ocr(image_bytes: bytes, image_format: str = 'png') -> str | None"),
          kPerformAzureOcrDoc);
    m.def("_is_transient_azure_error", &is_transient_azure_error, param("exc"),
          nb::sig("def _is_transient_azure_error(exc: BaseException) -> bool"), kIsTransientDoc);
}
