// Vision fallback: a page transcribed by a vision language model, through the
// host's Google provider or a chat-completions callable.  A failed
// transcription is logged and gives None; it never raises.
#include "ocr/parts.hpp"

namespace qo = quillon::ocr;
using namespace ocr_detail;

namespace {

constexpr const char* kVisionPayloadDoc =
    "Payload da página para o provider de visão: (bytes, formato).\n"
    "\n"
    "    Só o Google aceita PDF inline; OpenAI, Azure e Grok recebem imagem.\n"
    "    ";

constexpr const char* kPerformVisionFallbackDoc =
    "Extract text from an image via a Vision LLM.\n"
    "\n"
    "    provider=\"openai\" | \"azure\": uses ``llm_caller(messages, None)``, which expects the\n"
    "    OpenAI chat-completions shape (kept unchanged for backward compatibility).\n"
    "\n"
    "    provider=\"google\": calls ``quillon.providers.google.call_vision`` directly with\n"
    "    ``google_client`` and ``google_model``.\n"
    "\n"
    "    image_format=\"pdf\" sends the page as a native PDF. Only Google accepts it; the\n"
    "    other providers refuse it here rather than turn it into a data URL that the\n"
    "    API would reject with an obscure error.\n"
    "\n"
    "    Returns extracted text or None on any failure / empty response.\n"
    "    ";

constexpr const char* kUserInstruction = "Extraia todo o texto visível nesta página do documento.";

bool is_google(nb::handle provider) { return QUILLON_OCR_ON_TEXT(qo::is_google_provider, provider); }

nb::object vision_payload(nb::handle doc, nb::handle page_num_arg, nb::handle provider_arg) {
    nb::int_ page_num = integer_arg(page_num_arg, "_vision_payload", "page_num");
    text_arg(provider_arg, "_vision_payload", "provider");
    if (is_google(provider_arg)) return nb::make_tuple(ocr_ns.call(kRenderPageAsPdf, doc, page_num), "pdf");
    return nb::make_tuple(ocr_ns.call(kRenderPageAsImage, doc, page_num), "png");
}

// "data:<mime>;base64,<image in base64>", the encoding done by the standard
// library's binascii.
nb::str data_url(nb::handle mime, nb::handle image_bytes) {
    nb::object encoded = nb::module_::import_("binascii").attr("b2a_base64")(image_bytes, "newline"_a = false);
    if (!PyBytes_Check(encoded.ptr())) throw nb::type_error("b2a_base64() did not return bytes");
    return owned_str(PyUnicode_FromFormat("data:%U;base64,%s", mime.ptr(), PyBytes_AS_STRING(encoded.ptr())));
}

nb::list chat_messages(nb::handle url) {
    nb::list content, messages;
    content.append(dict_of("type"_a = "image_url", "image_url"_a = dict_of("url"_a = url)));
    content.append(dict_of("type"_a = "text", "text"_a = kUserInstruction));
    messages.append(dict_of("role"_a = "system", "content"_a = ocr_ns.get(kVisionFallbackPrompt)));
    messages.append(dict_of("role"_a = "user", "content"_a = content));
    return messages;
}

nb::object google_route(nb::handle image_bytes, nb::handle mime, nb::handle google_client, PyObject* google_model) {
    return none_on_error("Google vision fallback failed: %s", [&]() -> nb::object {
        nb::object call_vision = import_name("quillon.providers.google", "call_vision");
        nb::object text = call_vision(google_client, nb::handle(google_model), "image_bytes"_a = image_bytes,
                                      "prompt"_a = ocr_ns.get(kVisionFallbackPrompt), "mime"_a = mime);
        if (!text.is_none() && !PyUnicode_Check(text.ptr()))
            raise_error(PyExc_TypeError, "call_vision() returned %.200s, not str or None",
                        Py_TYPE(text.ptr())->tp_name);
        return text;
    });
}

nb::object chat_route(nb::handle image_bytes, nb::handle mime, nb::handle llm_caller) {
    return none_on_error("Vision fallback falhou: %s", [&]() -> nb::object {
        nb::list messages = chat_messages(data_url(mime, image_bytes));
        nb::object response = nb::borrow(llm_caller)(messages, nb::none());
        nb::object first = owned(PyObject_GetItem(response.attr("choices").ptr(), nb::int_(0).ptr()));
        nb::object content = first.attr("message").attr("content");
        if (content.is_none() || !truth(content)) return nb::none();
        if (!PyUnicode_Check(content.ptr()))
            raise_error(PyExc_TypeError, "message content must be str, not %.200s", Py_TYPE(content.ptr())->tp_name);
        return stripped_or_none(content);
    });
}

nb::object perform_vision_fallback(nb::handle image_bytes, nb::handle llm_caller, nb::handle image_format,
                                   nb::handle provider, nb::handle google_client, nb::handle google_model_arg) {
    constexpr const char* fn = "perform_vision_fallback";
    bytes_like_arg(image_bytes, fn, "image_bytes");
    PyObject* format = text_or_none_arg(image_format, fn, "image_format");
    text_arg(provider, fn, "provider");
    PyObject* google_model = text_or_none_arg(google_model_arg, fn, "google_model");

    nb::str fmt = (format && PyUnicode_GET_LENGTH(format) > 0) ? lower(format) : nb::str("png");
    qo::Mime kind = QUILLON_OCR_ON_TEXT(qo::mime_for, fmt);
    nb::str mime = kind == qo::Mime::ImageSlashFormat ? owned_str(PyUnicode_FromFormat("image/%U", fmt.ptr()))
                                                      : nb::str(qo::fixed_mime(kind));

    bool configured = !google_client.is_none() && google_model && PyUnicode_GET_LENGTH(google_model) > 0;
    switch (qo::vision_route(is_google(provider), configured, kind, !llm_caller.is_none())) {
        case qo::VisionRoute::Google: return google_route(image_bytes, mime, google_client, google_model);
        case qo::VisionRoute::Chat: return chat_route(image_bytes, mime, llm_caller);
        case qo::VisionRoute::GoogleUnconfigured:
            log_warning(ocr_ns, "Google vision fallback requested without client/model");
            break;
        case qo::VisionRoute::PdfRefused:
            log_error(ocr_ns,
                      "Vision fallback recebeu PDF para o provider '%s', que so aceita imagem; pagina ignorada.",
                      provider);
            break;
        case qo::VisionRoute::NoCaller:
            break;
    }
    return nb::none();
}

}  // namespace

void register_vision(nb::module_& m) {
    m.def("_vision_payload", &vision_payload, param("doc"), param("page_num"), param("provider"),
          nb::sig("def _vision_payload(doc: pymupdf.Document, page_num: int, provider: str) -> tuple[bytes, str]"),
          kVisionPayloadDoc);
    m.def("perform_vision_fallback", &perform_vision_fallback, param("image_bytes"), param("llm_caller") = nb::none(),
          param("image_format") = "png", param("provider") = "openai", param("google_client") = nb::none(),
          param("google_model") = nb::none(),
          nb::sig("def perform_vision_fallback(image_bytes: bytes, "
                  "llm_caller: collections.abc.Callable[[list[dict[str, typing.Any]], None], typing.Any] "
                  "| None = None, image_format: str | None = 'png', provider: str = 'openai', "
                  "google_client: typing.Any = None, google_model: str | None = None) -> str | None"),
          kPerformVisionFallbackDoc);
}
