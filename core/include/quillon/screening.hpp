// Document screening: is this document a contract?  A screen for whole
// documents, pages kept apart, that holds on real contracts.
//
// Real contracts name invoices, payment slips and the tender they came from
// in their payment and origin clauses ("mediante nota fiscal", "fatura",
// "PREGÃO ELETRÔNICO Nº 44/2025" in a page header), so a document-kind term
// found anywhere in the text says little.  Here:
//   * the contract vocabulary is counted over the whole text, each entry once,
//     as a plain substring of the folded text (NFD, marks dropped, lower case);
//   * the document-kind (exclusion) terms count only in the heading: the first
//     `heading_chars` code points of the first page that has text;
//   * a title line in the heading that declares a contract ("CONTRATO Nº
//     077/2025", "TERMO ADITIVO", "Instrumento particular de ...") overrides
//     the exclusion terms: the vocabulary alone decides.
// A title line is one of the first `title_lines` non-blank lines of the
// heading, short (at most 100 code points) and set like a title (at most six
// words, or its letters mostly capitals), whose fold starts with a
// `title_starts` entry followed by a non-letter.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::screening {

struct Tables {
    std::vector<std::u32string> contract_terms;   // as written
    std::vector<std::u32string> exclusion_terms;  // as written
    std::vector<std::u32string> title_starts;     // as written
    std::size_t min_terms = 3;
    std::size_t heading_chars = 3000;
    std::size_t title_lines = 15;
};

// The vocabulary of validar_documento_contrato, its exclusion terms plus the
// document kinds that carry contract words in their own forms (a budget
// commitment note, the invoice's auxiliary document, a tender notice), and
// the openings of contract titles.
const Tables& default_tables();

enum class Reason {
    kEmpty,        // no text at all
    kTitle,        // a contract title in the heading, and enough vocabulary
    kTerms,        // enough vocabulary, no exclusion term in the heading
    kExcluded,     // an exclusion term in the heading, no contract title
    kTooFewTerms,  // not enough vocabulary
};

struct Verdict {
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    bool contract = false;
    Reason reason = Reason::kEmpty;
    std::vector<std::size_t> terms_found;  // indices into contract_terms, table order
    std::size_t exclusion = npos;          // first exclusion term (table order) in the heading
    std::u32string title;                  // the title line as written, trimmed; empty when none
};

class Screener {
public:
    explicit Screener(Tables tables);
    const Tables& tables() const noexcept { return tables_; }

    // `pages` as extracted (not folded), in order.
    Verdict screen(const std::vector<std::u32string_view>& pages) const;

private:
    Tables tables_;
    std::vector<std::u32string> contract_folded_;
    std::vector<std::u32string> exclusion_folded_;
    std::vector<std::u32string> title_folded_;
};

const char* reason_name(Reason r) noexcept;

}  // namespace quillon::screening
