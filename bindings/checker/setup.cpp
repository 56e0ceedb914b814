// Construction, the conditional progress log, and the lazy engine start with
// the registration of the three extraction questions.
#include "checker/parts.hpp"

#include "quillon/extraction_questions.hpp"

namespace {

constexpr const char* kCls = "ContractChecker";

// The engine and its question types live in the top-level package and are
// looked up only when the engine starts, so the checker loads without them.
nb::object engine_attr(const char* name) { return nb::module_::import_("quillon").attr(name); }


// --- construction ------------------------------------------------------------
void init(nb::pointer_and_handle<ContractChecker> self, nb::handle country, nb::handle api_token,
          nb::handle openai_api_key, nb::handle provider, nb::handle azure_api_key, nb::handle azure_endpoint,
          nb::handle azure_deployment, nb::handle azure_api_version, nb::handle model, nb::handle verbose,
          nb::handle usar_ai_search) {
    new (self.p) ContractChecker();
    nb::handle obj = self.h;

    // Every argument is checked before anything is built.
    PyObject* country_s = text_arg(country, kCls, "country");
    // QuillonAuth's arguments, in its order: all may be None but the API version.
    const std::pair<const char*, nb::handle> credentials[] = {
        {"api_token", api_token},         {"openai_api_key", openai_api_key}, {"provider", provider},
        {"azure_api_key", azure_api_key}, {"azure_endpoint", azure_endpoint}, {"azure_deployment", azure_deployment}};
    nb::dict auth_kwargs;
    for (const auto& [name, value] : credentials) {
        text_or_none_arg(value, kCls, name);
        auth_kwargs[name] = value;
    }
    text_arg(azure_api_version, kCls, "azure_api_version");
    auth_kwargs["azure_api_version"] = azure_api_version;
    text_arg(model, kCls, "model");
    bool verbose_b = truth(verbose);
    bool ai_b = truth(usar_ai_search);

    if (PyUnicode_GET_LENGTH(country_s) == 0) throw nb::value_error("country is required (e.g., country='BR')");

    obj.attr("adapter") = checker_ns.call(names::get_adapter, country);
    obj.attr("verbose") = nb::bool_(verbose_b);
    obj.attr("model") = model;
    obj.attr("usar_ai_search") = nb::bool_(ai_b);
    nb::object auth = checker_ns.get(names::QuillonAuth)(**auth_kwargs);
    obj.attr("_auth") = auth;

    const bool has_key = attr_truth(auth, "has_api_key");
    if (auto missing = rules::missing_credentials(has_key, !has_key && attr_truth(auth, "is_azure")))
        throw nb::value_error(missing->c_str());
    obj.attr("_client") = nb::none();
    obj.attr("_quillon_available") = nb::none();
}

nb::object text_or_none_result(nb::object value, const char* what) {
    if (!value.is_none() && !PyUnicode_Check(value.ptr()))
        raise_error(PyExc_TypeError, "ContractChecker.%s must be str or None, not %.200s", what,
                    Py_TYPE(value.ptr())->tp_name);
    return value;
}

// --- conditional log ---------------------------------------------------------
void conditional_log(nb::handle self, nb::handle msg, nb::handle emoji) {
    text_arg(msg, "_log", "msg");
    text_arg(emoji, "_log", "emoji");
    if (!attr_truth(self, "verbose")) return;
    print_line(utf8(emoji) + " " + utf8(msg));
}

// --- engine start ------------------------------------------------------------
nb::object init_quillon(nb::handle self) {
    nb::object available = self.attr("_quillon_available");
    if (!available.is_none()) return available;
    auto settle = [&](bool ok, const std::string& why = "", const char* emoji = "") {
        if (!ok) log_line(self, why, emoji);
        self.attr("_quillon_available") = nb::bool_(ok);
        return nb::bool_(ok);
    };
    nb::object auth = self.attr("_auth");
    if (!attr_truth(auth, "is_quillon_available"))
        return settle(false, "Quillon não disponível. Instale com: pip install quillon", "⚠️");
    try {
        nb::object quillon_cls = engine_attr("Quillon");
        nb::object kwargs = auth.attr("get_quillon_kwargs")();
        // The checker's own model and verbosity win over the mapping's.
        kwargs["model"] = self.attr("model");
        kwargs["verbose"] = self.attr("verbose");
        self.attr("_client") = quillon_cls(**keywords(kwargs));
        self.attr("_setup_questions")();
        return settle(true);
    } catch (nb::python_error& e) {
        // Only ordinary errors are the engine's failure to start; an
        // interruption or an exit request goes on to the caller.
        if (!e.matches(PyExc_Exception)) throw;
        return settle(false, "Erro ao inicializar Quillon: " + utf8(e.value()), "❌");
    }
}

void setup_questions(nb::handle self) {
    nb::object question_cls = engine_attr("Question");
    nb::object config_cls = engine_attr("QuestionConfig");
    nb::object client = self.attr("_client");
    for (const quillon::checker::Question& q : quillon::checker::kQuestions) {
        nb::object config = config_cls(nb::arg("id") = q.id, nb::arg("name") = q.name, nb::arg("tag") = q.id);
        nb::object question = question_cls(
            nb::arg("config") = config, nb::arg("system_prompt") = q.system_prompt,
            nb::arg("user_prompt") = q.user_prompt, nb::arg("keywords") = str_list({q.keywords.begin(), q.keywords.end()}),
            nb::arg("response_model") = checker_ns.module().attr(q.response_model));
        client.attr("add_question")(question);
    }
}

}  // namespace

void register_setup(nb::class_<ContractChecker>& cls) {
    cls.def("__init__", &init, param("country"), param("api_token") = nb::none(),
            param("openai_api_key") = nb::none(), param("provider") = nb::none(),
            param("azure_api_key") = nb::none(), param("azure_endpoint") = nb::none(),
            param("azure_deployment") = nb::none(), param("azure_api_version") = "2024-02-15-preview",
            param("model") = "gpt-4o", param("verbose") = true, param("usar_ai_search") = true,
            nb::sig("def __init__(self, country: str, api_token: str | None = None, openai_api_key: str | None = "
                    "None, provider: str | None = None, azure_api_key: str | None = None, azure_endpoint: str | "
                    "None = None, azure_deployment: str | None = None, azure_api_version: str = "
                    "'2024-02-15-preview', model: str = 'gpt-4o', verbose: bool = True, usar_ai_search: bool = "
                    "True) -> None"));
    cls.def_prop_ro(
        "auth", [](nb::handle self) { return self.attr("_auth"); },
        nb::sig("def auth(self) -> quillon.contract.auth.QuillonAuth"), "Retorna o gerenciador de autenticação.");
    cls.def_prop_ro(
        "token", [](nb::handle self) { return text_or_none_result(self.attr("_auth").attr("get_token")(), "token"); },
        nb::sig("def token(self) -> str | None"), "Retorna o token de autenticação atual.");
    cls.def_prop_ro(
        "provider", [](nb::handle self) { return text_or_none_result(self.attr("_auth").attr("provider"), "provider"); },
        nb::sig("def provider(self) -> str | None"), "Retorna o provider configurado (openai ou azure).");
    cls.def("_log", &conditional_log, param("msg"), param("emoji") = "📋",
            nb::sig("def _log(self, msg: str, emoji: str = '📋') -> None"), "Log condicional.");
    cls.def("_init_quillon", &init_quillon, nb::sig("def _init_quillon(self) -> bool"),
            "Inicializa Quillon se disponível.");
    cls.def("_setup_questions", &setup_questions, nb::sig("def _setup_questions(self) -> None"),
            "Configura as perguntas de extração.");
}
