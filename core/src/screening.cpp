#include "quillon/screening.hpp"

#include <algorithm>

#include "quillon/keywords.hpp"
#include "quillon/text.hpp"

namespace quillon::screening {

namespace {

std::u32string fold_of(std::u32string_view s) { return text::fold(s); }

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

// Set like a title: short, and few words or mostly capitals.
bool looks_like_title(std::u32string_view line) {
    if (line.size() > 100) return false;
    std::size_t words = 0, upper = 0, letters = 0;
    bool in_word = false;
    for (char32_t c : line) {
        bool space = text::is_space(c);
        if (!space && !in_word) ++words;
        in_word = !space;
        if (is_letter_like(c)) {
            ++letters;
            std::u32string one(1, c);
            if (text::fold(one) != one) ++upper;
        }
    }
    if (words <= 6) return true;
    return letters > 0 && upper * 10 >= letters * 6;
}

}  // namespace

const Tables& default_tables() {
    static const Tables tables = [] {
        Tables t;
        for (auto term : keywords::kValidacao) t.contract_terms.emplace_back(term);
        for (auto term : keywords::kExclusao) t.exclusion_terms.emplace_back(term);
        for (auto term : {U"nota de empenho", U"danfe", U"aviso de licitação"}) t.exclusion_terms.emplace_back(term);
        t.min_terms = static_cast<std::size_t>(keywords::kMinKeywords);
        t.title_starts = {
            U"contrato", U"termo de contrato", U"termo aditivo", U"aditivo", U"instrumento particular",
            U"instrumento de contrato", U"acordo de", U"distrato", U"minuta de contrato", U"convênio",
        };
        return t;
    }();
    return tables;
}

Screener::Screener(Tables tables) : tables_(std::move(tables)) {
    for (const auto& t : tables_.contract_terms) contract_folded_.push_back(fold_of(t));
    for (const auto& t : tables_.exclusion_terms) exclusion_folded_.push_back(fold_of(t));
    for (const auto& t : tables_.title_starts) title_folded_.push_back(fold_of(t));
}

Verdict Screener::screen(const std::vector<std::u32string_view>& pages) const {
    Verdict v;
    std::u32string folded;
    const std::u32string_view* first_page = nullptr;
    for (const auto& page : pages) {
        std::size_t a = 0, b = 0;
        text::strip_bounds(page.data(), page.size(), a, b);
        if (b > a && first_page == nullptr) first_page = &page;
        if (!folded.empty()) folded.push_back(U'\n');
        text::fold_append(page.data(), page.size(), folded);
    }
    if (first_page == nullptr) return v;  // kEmpty

    for (std::size_t i = 0; i < contract_folded_.size(); ++i)
        if (contains(folded, contract_folded_[i])) v.terms_found.push_back(i);
    const bool enough = v.terms_found.size() >= tables_.min_terms;

    std::u32string_view heading = first_page->substr(0, std::min(first_page->size(), tables_.heading_chars));
    // A cut through a character and its combining marks would fold the
    // same; a cut through a word only shortens the heading.
    std::u32string heading_folded = text::fold(heading);
    for (std::size_t i = 0; i < exclusion_folded_.size(); ++i) {
        if (contains(heading_folded, exclusion_folded_[i])) {
            v.exclusion = i;
            break;
        }
    }
    for (std::u32string_view line : non_blank_lines(heading, tables_.title_lines)) {
        if (!looks_like_title(line)) continue;
        std::size_t skip = 0;  // list markers, numbering and quotes before the title
        while (skip < line.size() && !is_letter_like(line[skip])) ++skip;
        std::u32string lf = text::fold(line.substr(skip));
        for (const auto& start : title_folded_) {
            if (lf.compare(0, start.size(), start) != 0) continue;
            if (lf.size() > start.size() && is_letter_like(lf[start.size()])) continue;
            v.title.assign(line);
            break;
        }
        if (!v.title.empty()) break;
    }

    if (!v.title.empty()) {
        v.contract = enough;
        v.reason = enough ? Reason::kTitle : Reason::kTooFewTerms;
    } else if (v.exclusion != Verdict::npos) {
        v.reason = Reason::kExcluded;
    } else {
        v.contract = enough;
        v.reason = enough ? Reason::kTerms : Reason::kTooFewTerms;
    }
    return v;
}

const char* reason_name(Reason r) noexcept {
    switch (r) {
        case Reason::kEmpty: return "vazio";
        case Reason::kTitle: return "titulo";
        case Reason::kTerms: return "termos";
        case Reason::kExcluded: return "exclusao";
        case Reason::kTooFewTerms: return "poucos_termos";
    }
    return "?";
}

}  // namespace quillon::screening
