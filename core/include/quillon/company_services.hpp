// The web services that answer for Brazilian companies: what to ask each one
// and how its answer becomes a record.
//
// One table (`kServices`) says, per service, where to ask (the module constant
// holding the URL and its default), with which headers and time-out; the
// record layouts say which answer member fills which record key.  The cnpj
// module's lookups, its name search, the ie module and the adapter's paced
// client all read them, so a service is described once.
//
// The company record has thirteen keys in a fixed order (it is printed and
// serialised as built): fonte, cnpj, razao_social, nome_fantasia, situacao,
// data_situacao, data_abertura, natureza_juridica, porte, capital_social,
// endereco (seven keys), email, socios (six keys per partner).  Values are the
// answer's as decoded, "" when absent; only `cnpj` (formatted) and the share
// capital are computed.
//
// Share capital.  ReceitaWS writes `capital_social` as text, and so do the
// open-data files.  Every answer ReceitaWS publishes uses a dot as the decimal
// mark ("190000.00", "6453568523.86"), while a Brazilian-formatted amount uses
// the dot as thousands separator and the comma as decimal mark
// ("1.500.000,00", the files' "200000000,00").  Reading the first kind as the
// second inflates it a hundredfold, so the text is classified first:
//   * with a ",": Brazilian-formatted, every "." dropped and the "," made the
//     decimal point ("1.500.000,00" -> "1500000.00");
//   * without ",", with a single "." followed by one or two final digits
//     (white space around the text aside): a plain decimal, read as written
//     ("190000.00", "1.5");
//   * anything else: the dots are thousands separators and are dropped
//     ("1.500.000" -> "1500000", "abc" stays "abc" and fails to parse).
// The empty text means zero.  The result is handed to Python's float(), so
// white space, signs, exponents and digits of any script parse as float()
// parses them.
//
// Wire form.  A clean CNPJ may hold decimal digits of any script (full-width
// digits typed on a phone keyboard); the services and the open-data files know
// only ASCII, so a CNPJ sent or looked up has each digit written as its ASCII
// digit.
//
// Name search.  Casa dos Dados answers {"data": {"count": n, "cnpj": [hits]}};
// only the first hit counts, even when it cannot be used.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "quillon/text.hpp"

namespace quillon::company_services {

// --- the services ------------------------------------------------------------

struct Header {
    const char* name;
    const char* value;
};

enum class ServiceId { kBrasilApi, kReceitaWs, kCasaDosDados, kCnpja };

struct Service {
    ServiceId id;
    const char* name;          // the record's `fonte` and the log lines
    const char* url_constant;  // the module constant holding the URL
    const char* default_url;
    bool url_has_cnpj;             // "{cnpj}" in the URL is the CNPJ in wire form
    const char* method;            // "get" or "post"
    bool timeout_from_module;         // the time-out is the module's REQUEST_TIMEOUT, else fixed_timeout
    long fixed_timeout;
    Header headers[2];  // sent first, in this order (name nullptr: none)
    bool identify;      // then {"User-Agent": USER_AGENT}: the public services turn anonymous clients away
};

inline constexpr Service kServices[] = {
    {ServiceId::kBrasilApi, "BrasilAPI", "BRASIL_API_URL", "https://brasilapi.com.br/api/cnpj/v1/{cnpj}", true,
     "get", true, 0, {}, true},
    {ServiceId::kReceitaWs, "ReceitaWS", "RECEITA_WS_URL", "https://receitaws.com.br/v1/cnpj/{cnpj}", true, "get",
     true, 0, {{"Accept", "application/json"}}, true},
    // The search has its own time-out, longer than the lookups'.
    {ServiceId::kCasaDosDados, "Casa dos Dados", "CASADOSDADOS_API",
     "https://api.casadosdados.com.br/v2/public/cnpj/search", false, "post", false, 15,
     {{"Content-Type", "application/json"}, {"Accept", "application/json"}}, true},
    // The key goes in Authorization, added by the ie module from the environment.
    {ServiceId::kCnpja, "CNPJá", "CNPJA_API_URL", "https://api.cnpja.com/office/{cnpj}", true, "get", true, 0, {},
     false},
};

inline constexpr long kRequestTimeout = 10;  // seconds: the default of REQUEST_TIMEOUT

inline constexpr const Service& service(ServiceId id) { return kServices[static_cast<int>(id)]; }

// How a lookup that failed is logged (%-formats).  A request that failed, or
// an answer that could not be read, is a warning naming the service, with the
// clean CNPJ and the error's text; anything else is an error naming the
// function, with the clean CNPJ (and the stack trace).
inline std::string failed_format(const Service& s) { return std::string(s.name) + " request failed for %s: %s"; }
inline std::string unexpected_format(std::string_view function) {
    return "Unexpected error in " + std::string(function) + " for %s";
}

// --- the company record ------------------------------------------------------

enum class Source {
    kMember,    // the answer member (nullptr: always "")
    kFonte,     // the service's name
    kCnpj,      // the CNPJ asked for, formatted
    kCapital,   // the share capital
    kAddress,   // the seven address keys
    kPartners,  // the partner list
};

struct Field {
    const char* key;
    Source source;
    const char* member;
};

inline constexpr std::size_t kRecordKeys = 13, kAddressKeys = 7, kPartnerKeys = 6;

struct RecordLayout {
    ServiceId service;
    Field fields[kRecordKeys];
    Field partner[kPartnerKeys];  // from each element of the answer's `qsa`
    bool capital_is_text;         // parsed (default "0"), else as decoded (default integer 0)
    const char* refusal;          // a `status` member of this value: the service does not serve that CNPJ
};

inline constexpr const char* kQsa = "qsa";
inline constexpr const char* kCapitalMember = "capital_social";
inline constexpr const char* kStatusMember = "status";

// The address reads the same members from both services.
inline constexpr Field kAddress[kAddressKeys] = {
    {"logradouro", Source::kMember, "logradouro"}, {"numero", Source::kMember, "numero"},
    {"complemento", Source::kMember, "complemento"}, {"bairro", Source::kMember, "bairro"},
    {"cidade", Source::kMember, "municipio"}, {"uf", Source::kMember, "uf"},
    {"cep", Source::kMember, "cep"}};

#define QUILLON_COMPANY_FIELDS(razao, fantasia, situacao, data_situacao, abertura)                          \
    {{"fonte", Source::kFonte, nullptr}, {"cnpj", Source::kCnpj, nullptr},                                \
     {"razao_social", Source::kMember, razao}, {"nome_fantasia", Source::kMember, fantasia},              \
     {"situacao", Source::kMember, situacao}, {"data_situacao", Source::kMember, data_situacao},           \
     {"data_abertura", Source::kMember, abertura}, {"natureza_juridica", Source::kMember, "natureza_juridica"}, \
     {"porte", Source::kMember, "porte"}, {"capital_social", Source::kCapital, nullptr},                  \
     {"endereco", Source::kAddress, nullptr}, {"email", Source::kMember, "email"},                        \
     {"socios", Source::kPartners, nullptr}}

inline constexpr RecordLayout kBrasilApiRecord{
    ServiceId::kBrasilApi,
    QUILLON_COMPANY_FIELDS("razao_social", "nome_fantasia", "descricao_situacao_cadastral", "data_situacao_cadastral",
                           "data_inicio_atividade"),
    {{"nome", Source::kMember, "nome_socio"}, {"qualificacao", Source::kMember, "qualificacao_socio"},
     {"data_entrada", Source::kMember, "data_entrada_sociedade"},
     {"cpf_representante", Source::kMember, "cpf_representante_legal"},
     {"nome_representante", Source::kMember, "nome_representante_legal"},
     {"qualificacao_representante", Source::kMember, "qualificacao_representante_legal"}},
    false,
    nullptr};

// ReceitaWS answers a CNPJ it cannot serve with status 200 and {"status": "ERROR"}.
inline constexpr RecordLayout kReceitaWsRecord{
    ServiceId::kReceitaWs,
    QUILLON_COMPANY_FIELDS("nome", "fantasia", "situacao", "data_situacao", "abertura"),
    {{"nome", Source::kMember, "nome"}, {"qualificacao", Source::kMember, "qual"},
     {"data_entrada", Source::kMember, nullptr}, {"cpf_representante", Source::kMember, nullptr},
     {"nome_representante", Source::kMember, nullptr}, {"qualificacao_representante", Source::kMember, nullptr}},
    true,
    "ERROR"};

#undef QUILLON_COMPANY_FIELDS

// The key whose value must be non-blank text for an answer to be a record of
// the company (`{}` or an error object sent with status 200 is none).
inline constexpr const char* kCompanyNameKey = "razao_social";

// Whether a legal name s[0, n) names the company: something besides white
// space (Python's str.isspace).
template <class CharT>
bool names_company(const CharT* s, std::size_t n) noexcept {
    std::size_t first = 0, last = 0;
    text::strip_bounds(s, n, first, last);
    return last > first;
}

// --- state registrations (CNPJá) --------------------------------------------

// One key of the state-registration record (uf, numero, tipo, ativa,
// situacao, data_situacao) from a CNPJá registration.
enum class RegistrationSource {
    kMember,      // the member as decoded; `fallback` when absent
    kObjectText,  // the `text` of the object in the member ({"id": ..., "text": ...}); `fallback` when the
                  // member is absent, null or empty, and, with `falsy_falls_back`, when the text is falsy
    kFlag,        // the truth of the member (absent: false)
};

struct RegistrationField {
    const char* key;
    RegistrationSource source;
    const char* member;
    const char* fallback;
    bool falsy_falls_back;
};

// A registration without a type is a plain IE.
inline constexpr RegistrationField kRegistration[] = {
    {"uf", RegistrationSource::kMember, "state", "", false},
    {"numero", RegistrationSource::kMember, "number", "", false},
    {"tipo", RegistrationSource::kObjectText, "type", "IE", true},
    {"ativa", RegistrationSource::kFlag, "enabled", nullptr, false},
    {"situacao", RegistrationSource::kObjectText, "status", "", false},
    {"data_situacao", RegistrationSource::kMember, "statusDate", "", false}};

// --- the name search ---------------------------------------------------------

// The search body, members in the order the service documents: the query
// {"termo": [name], "situacao_cadastral": "ATIVA", "uf": [uf] when given},
// "range_query": {}, every flag of "extras" false, "page": 1.
inline constexpr const char* kSearchStatus = "ATIVA";
inline constexpr const char* kSearchFlags[] = {
    "somente_mei",           "excluir_mei",   "com_email",       "incluir_atividade_secundaria",
    "com_contato_telefonico", "somente_fixo", "somente_celular", "somente_matriz",
    "somente_filial"};
inline constexpr std::size_t kMinSearchLength = 3;  // shorter names (white space counts) are not searched

// What the first-hit rule reads of a search answer.
struct SearchPage {
    bool positive_count;  // data.count > 0
    bool any_hit;         // data.cnpj is a non-empty list
};

// Whether the answer names a company: its first hit, and only that one.
inline constexpr bool first_hit_counts(SearchPage page) noexcept { return page.positive_count && page.any_hit; }

// --- share capital -----------------------------------------------------------

enum class AmountStyle {
    kEmpty,         // "": zero
    kDecimalPoint,  // "190000.00": parse as written
    kBrazilian,     // "1.500.000,00" or "1.500.000": drop ".", "," -> "."
};

template <class CharT>
AmountStyle amount_style(const CharT* s, std::size_t n) noexcept {
    if (n == 0) return AmountStyle::kEmpty;
    std::size_t dots = 0, dot = 0;
    for (std::size_t i = 0; i < n; ++i) {
        char32_t c = static_cast<char32_t>(s[i]);
        if (c == ',') return AmountStyle::kBrazilian;
        if (c == '.') {
            ++dots;
            dot = i;
        }
    }
    if (dots != 1) return AmountStyle::kBrazilian;
    std::size_t first = 0, last = 0;
    text::strip_bounds(s, n, first, last);
    // The dot itself is no white space, so first <= dot < last.
    std::size_t decimals = last - dot - 1;
    if (decimals < 1 || decimals > 2) return AmountStyle::kBrazilian;
    for (std::size_t i = dot + 1; i < last; ++i)
        if (text::decimal_value(static_cast<char32_t>(s[i])) < 0) return AmountStyle::kBrazilian;
    return AmountStyle::kDecimalPoint;
}

// Calls emit(char32_t) for each character of the Brazilian-formatted amount
// s[0, n) rewritten with a decimal point and no thousands separators.
template <class CharT, class Emit>
void brazilian_to_decimal_point(const CharT* s, std::size_t n, Emit&& emit) {
    for (std::size_t i = 0; i < n; ++i) {
        char32_t c = static_cast<char32_t>(s[i]);
        if (c == '.') continue;
        emit(c == ',' ? U'.' : c);
    }
}

// The text float() reads for a share capital s[0, n) that is not empty: as
// written for a plain decimal, else rewritten with a decimal point.
template <class CharT>
std::u32string capital_text(const CharT* s, std::size_t n) {
    std::u32string out;
    out.reserve(n);
    auto push = [&](char32_t c) { out.push_back(c); };
    if (amount_style(s, n) == AmountStyle::kBrazilian) {
        brazilian_to_decimal_point(s, n, push);
    } else {
        for (std::size_t i = 0; i < n; ++i) push(static_cast<char32_t>(s[i]));
    }
    return out;
}

// --- wire form ---------------------------------------------------------------

// A decimal digit of any script as its ASCII digit; any other character as is.
inline char32_t wire_char(char32_t c) noexcept {
    if (c < 0x80) return c;
    int v = text::decimal_value(c);
    return v < 0 ? c : static_cast<char32_t>('0' + v);
}

// Whether s[0, n) is already in wire form (pure ASCII).
template <class CharT>
bool is_ascii(const CharT* s, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i)
        if (static_cast<char32_t>(s[i]) >= 0x80) return false;
    return true;
}

// The wire form of s[0, n).
template <class CharT>
std::u32string wire_form(const CharT* s, std::size_t n) {
    std::u32string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) out.push_back(wire_char(static_cast<char32_t>(s[i])));
    return out;
}

// --- answers -----------------------------------------------------------------

// A JSON answer must be UTF-8, but requests decodes a body whose charset is
// UTF-8 or unstated leniently, turning invalid bytes into U+FFFD, so a
// corrupted answer would pass for a good one: such a body is checked as strict
// UTF-8 first.  `charset` is the stated label (`stated` false: none).
inline bool decoded_leniently(bool stated, std::string_view charset) noexcept {
    if (!stated) return true;
    if (charset.size() != 4 && charset.size() != 5) return false;
    std::string lower;
    for (char c : charset) lower.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    return lower == "utf-8" || lower == "utf8" || lower == "utf_8";
}

// Whether such a body is checked: one without a stated charset that looks like
// UTF-16 or UTF-32 (a byte-order mark, or a NUL in its first four bytes) is
// left to requests, which detects those.
inline bool checked_as_utf8(bool stated, std::string_view body) noexcept {
    if (stated) return true;
    std::string_view head = body.substr(0, 2);
    return head != "\xff\xfe" && head != "\xfe\xff" && body.substr(0, 4).find('\0') == std::string_view::npos;
}

}  // namespace quillon::company_services
