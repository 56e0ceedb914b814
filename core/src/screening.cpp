#include "quillon/screening.hpp"

#include <algorithm>

#include "quillon/keywords.hpp"
#include "quillon/text.hpp"

namespace quillon::screening {

namespace {

// Invisible code points that PDF text carries between letters and words
// (zero-width spaces and joiners, soft hyphens, byte-order marks).
bool is_invisible(char32_t c) noexcept {
    return c == 0x00AD || (c >= 0x200B && c <= 0x200D) || c == 0x2060 || c == 0xFEFF;
}

// The fold of `s` with invisible code points dropped and every run of white
// space one blank, none at either end: phrases broken across lines match.
std::u32string fold_of(std::u32string_view s) {
    std::u32string folded = text::fold(s), out;
    out.reserve(folded.size());
    bool blank = false;
    for (char32_t c : folded) {
        if (is_invisible(c)) continue;
        if (text::is_space(c)) {
            blank = !out.empty();
            continue;
        }
        if (blank) out.push_back(U' ');
        blank = false;
        out.push_back(c);
    }
    return out;
}

bool is_letter_like(char32_t c) noexcept { return text::is_word(c) && !(c >= '0' && c <= '9') && c != '_'; }

bool contains(const std::u32string& hay, const std::u32string& needle) {
    return needle.empty() || hay.find(needle) != std::u32string::npos;
}

// Lines of `s` with white space trimmed, blank ones left out.
std::vector<std::u32string_view> non_blank_lines(std::u32string_view s, std::size_t limit) {
    std::vector<std::u32string_view> out;
    std::size_t i = 0;
    while (i < s.size() && out.size() < limit) {
        std::size_t j = i;
        while (j < s.size() && s[j] != U'\n' && s[j] != U'\r') ++j;
        std::size_t first = 0, last = 0;
        text::strip_bounds(s.data() + i, j - i, first, last);
        if (last > first) out.push_back(s.substr(i + first, last - first));
        i = j + 1;
    }
    return out;
}

// How a line is set: its length in words, and whether its letters are
// mostly capitals.
struct LineShape {
    std::size_t words = 0;
    bool capitals = false;
};

LineShape shape_of(std::u32string_view line) {
    LineShape shape;
    std::size_t upper = 0, letters = 0;
    bool in_word = false;
    for (char32_t c : line) {
        bool space = text::is_space(c);
        if (!space && !in_word) ++shape.words;
        in_word = !space;
        if (is_letter_like(c)) {
            ++letters;
            std::u32string one(1, c);
            if (text::fold(one) != one) ++upper;
        }
    }
    shape.capitals = letters > 0 && upper * 10 >= letters * 6;
    return shape;
}

// Set like a title: short with few words, or in capitals.
bool looks_like_title(std::u32string_view line, const LineShape& shape) {
    return (line.size() <= 100 && shape.words <= 8) || (shape.capitals && line.size() <= 200);
}

// A line of running text: the heading's titles are behind it.
bool is_prose(const LineShape& shape) { return !shape.capitals && shape.words > 10; }

bool starts_with_entry(const std::u32string& folded_line, const std::u32string& start) {
    if (start.empty() || folded_line.compare(0, start.size(), start) != 0) return false;
    return folded_line.size() == start.size() || !is_letter_like(folded_line[start.size()]);
}

// The fold of a title line from its first letter on; of a SEI print header
// ("SEI/EMBRAPA - 6339390 - Termo de Referência"), its last part.
std::u32string title_fold(std::u32string_view line) {
    std::size_t skip = 0;  // list markers, numbering and quotes before the title
    while (skip < line.size() && !is_letter_like(line[skip])) ++skip;
    std::u32string lf = fold_of(line.substr(skip));
    if (lf.compare(0, 4, U"sei/") == 0 || lf.compare(0, 4, U"sei ") == 0) {
        std::size_t dash = lf.rfind(U" - ");
        if (dash != std::u32string::npos) {
            std::size_t i = dash + 3;
            while (i < lf.size() && !is_letter_like(lf[i])) ++i;
            lf.erase(0, i);
        }
    }
    return lf;
}

// The index of the first entry `lf` starts with, or npos.
std::size_t first_start(const std::u32string& lf, const std::vector<std::u32string>& starts) {
    for (std::size_t i = 0; i < starts.size(); ++i)
        if (starts_with_entry(lf, starts[i])) return i;
    return DocumentVerdict::npos;
}

}  // namespace

const Tables& default_tables() {
    static const Tables tables = [] {
        Tables t;
        for (auto term : keywords::kValidacao) t.contract_terms.emplace_back(term);
        for (auto term : keywords::kExclusao) t.exclusion_terms.emplace_back(term);
        for (auto term : {U"nota de empenho", U"danfe", U"aviso de licitação", U"nfs-e", U"danfse"}) t.exclusion_terms.emplace_back(term);
        t.min_terms = static_cast<std::size_t>(keywords::kMinKeywords);
        t.title_starts = {
            U"contrato", U"termo de contrato", U"termo aditivo", U"aditivo", U"instrumento particular",
            U"instrumento de contrato", U"acordo de", U"distrato", U"minuta de contrato", U"minuta do contrato",
            U"convênio", U"ata de registro de preços", U"ata de registro de preço", U"termo de formalização",
            U"termo de compromisso", U"termo de colaboração", U"termo de fomento", U"termo de cooperação",
            U"apostilamento", U"termo de apostilamento",
        };
        // The other documents of a procurement file, by the title they open with.
        // Procedures ("PREGÃO ELETRÔNICO Nº 44/2025", "DISPENSA Nº 5/2025",
        // "PROCESSO Nº ...") are not among them: contract headings name the
        // procedure they came from before their own title.
        t.other_titles = {
            U"termo de referência", U"projeto básico", U"estudo técnico preliminar", U"estudos técnicos preliminares",
            U"estudo técnico", U"documento de formalização de demanda", U"formalização de demanda",
            U"documento de oficialização de demanda", U"parecer", U"mapa de preços", U"mapa comparativo",
            U"mapa de apuração", U"mapa de cotação", U"planilha", U"cotação", U"pesquisa de preços",
            U"proposta", U"orçamento", U"pedido de compra", U"pedido de fornecimento", U"portaria", U"decreto",
            U"resolução", U"extrato", U"diário oficial", U"ata de realização", U"ata da sessão",
            U"ata de sessão", U"ata de abertura", U"ata de julgamento", U"ata da reunião", U"ata de reunião",
            U"ata de habilitação", U"autorização de fornecimento", U"autorização de compra",
            U"autorização de serviço", U"ordem de fornecimento", U"ordem de compra", U"nota de empenho",
            U"nota fiscal", U"nfs-e", U"danfe", U"danfse", U"boleto", U"recibo", U"fatura",
            U"requisição", U"solicitação", U"despacho", U"termo de homologação",
            U"termo de adjudicação", U"termo de ratificação",
            U"ato de dispensa", U"aviso", U"edital", U"justificativa",
            U"declaração", U"certidão", U"relatório", U"ofício", U"memorando",
            U"notificação", U"comunicado", U"errata", U"esclarecimento", U"impugnação", U"publicação",
            U"termo de ciência", U"termo de recebimento", U"atestado", U"laudo",
        };
        t.party_pairs = {
            {U"contratante", U"contratad"}, {U"locador", U"locatári"}, {U"outorgante", U"outorgad"},
            {U"concedente", U"convenente"}, {U"cedente", U"cessionári"}, {U"comodante", U"comodatári"},
            {U"promitente vendedor", U"promitente comprador"}, {U"compromitente", U"compromissári"},
        };
        t.qualification_terms = {
            U"neste ato representad", U"representada por", U"representado por", U"representada pelo",
            U"representada pela", U"representado pelo", U"representado pela", U"representado(a) pelo",
            U"representada(o) pelo", U"representado(a) por", U"representada(o) por",
        };
        return t;
    }();
    return tables;
}

DocumentScreen::DocumentScreen(Tables tables) : tables_(std::move(tables)) {
    for (const auto& t : tables_.contract_terms) contract_folded_.push_back(fold_of(t));
    for (const auto& t : tables_.exclusion_terms) exclusion_folded_.push_back(fold_of(t));
    for (const auto& t : tables_.title_starts) title_folded_.push_back(fold_of(t));
    for (const auto& t : tables_.other_titles) other_folded_.push_back(fold_of(t));
    for (const auto& [a, b] : tables_.party_pairs) party_folded_.emplace_back(fold_of(a), fold_of(b));
    for (const auto& t : tables_.qualification_terms) qualification_folded_.push_back(fold_of(t));
}

DocumentVerdict DocumentScreen::screen(const std::vector<std::u32string_view>& pages) const {
    DocumentVerdict v;
    std::u32string folded, opening;
    const std::u32string_view* first_page = nullptr;
    std::size_t pages_with_text = 0;
    for (const auto& page : pages) {
        std::u32string f = fold_of(page);
        if (f.empty()) continue;
        if (first_page == nullptr) first_page = &page;
        if (!folded.empty()) folded.push_back(U' ');
        folded += f;
        if (pages_with_text++ < tables_.opening_pages) {
            if (!opening.empty()) opening.push_back(U' ');
            opening += f;
        }
    }
    if (first_page == nullptr) return v;  // kEmpty

    for (std::size_t i = 0; i < contract_folded_.size(); ++i)
        if (contains(folded, contract_folded_[i])) v.terms_found.push_back(i);
    const bool enough = v.terms_found.size() >= tables_.min_terms;

    std::u32string_view heading = first_page->substr(0, std::min(first_page->size(), tables_.heading_chars));
    // A cut through a character and its combining marks would fold the
    // same; a cut through a word only shortens the heading.
    std::u32string heading_folded = fold_of(heading);
    for (std::size_t i = 0; i < exclusion_folded_.size(); ++i) {
        if (contains(heading_folded, exclusion_folded_[i])) {
            v.exclusion = i;
            break;
        }
    }
    bool contract_title = false;
    for (std::u32string_view line : non_blank_lines(heading, tables_.title_lines)) {
        LineShape line_shape = shape_of(line);
        std::u32string lf = title_fold(line);
        const bool opens_as_contract = first_start(lf, title_folded_) != DocumentVerdict::npos;
        // "Contrato de prestação de serviços que entre si celebram o Município
        // e a empresa ..." is a title however long it runs.
        const bool naming_parties = opens_as_contract && (lf.find(U" entre si ") != std::u32string::npos ||
                                                          lf.find(U" celebram ") != std::u32string::npos);
        if (!naming_parties) {
            if (is_prose(line_shape)) break;
            if (!looks_like_title(line, line_shape)) continue;
        }
        if (opens_as_contract) {
            contract_title = true;
        } else if (std::size_t other = first_start(lf, other_folded_); other != DocumentVerdict::npos) {
            v.other_title = other;
        } else {
            continue;
        }
        v.title.assign(line);
        break;
    }

    if (contract_title) {
        v.contract = enough;
        v.reason = enough ? Reason::kTitle : Reason::kTooFewTerms;
        v.settled = enough;
    } else if (v.other_title != DocumentVerdict::npos || v.exclusion != DocumentVerdict::npos) {
        v.reason = Reason::kExcluded;
        v.settled = true;
    } else {
        bool parties = false, qualified = false;
        for (const auto& [a, b] : party_folded_)
            if (!a.empty() && !b.empty() && contains(opening, a) && contains(opening, b)) parties = true;
        for (const auto& q : qualification_folded_)
            if (!q.empty() && contains(folded, q)) qualified = true;
        v.contract = enough && parties && qualified;
        v.reason = !enough ? Reason::kTooFewTerms : v.contract ? Reason::kTerms : Reason::kNoParties;
        v.settled = v.contract || (!parties && pages_with_text >= tables_.opening_pages);
    }
    return v;
}

const std::u32string* DocumentScreen::excluding_entry(const DocumentVerdict& v) const noexcept {
    if (v.other_title != DocumentVerdict::npos) return &tables_.other_titles[v.other_title];
    if (v.exclusion != DocumentVerdict::npos) return &tables_.exclusion_terms[v.exclusion];
    return nullptr;
}

std::vector<std::u32string_view> split_pages(std::u32string_view text) {
    std::vector<std::u32string_view> pages;
    std::size_t start = 0;
    while (true) {
        const std::size_t feed = text.find(U'\f', start);
        if (feed == std::u32string_view::npos) {
            pages.push_back(text.substr(start));
            return pages;
        }
        pages.push_back(text.substr(start, feed - start));
        start = feed + 1;
    }
}

const char* reason_name(Reason r) noexcept {
    switch (r) {
        case Reason::kEmpty: return "vazio";
        case Reason::kTitle: return "titulo";
        case Reason::kTerms: return "termos";
        case Reason::kExcluded: return "exclusao";
        case Reason::kTooFewTerms: return "poucos_termos";
        case Reason::kNoParties: return "sem_partes";
    }
    return "?";
}

}  // namespace quillon::screening
