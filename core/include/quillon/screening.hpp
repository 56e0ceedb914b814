// Document screening: is this document a contract?  A screen for whole
// documents, pages kept apart, that holds on real procurement files, where
// contracts sit among terms of reference, notices, opinions, proposals,
// invoices and commitment notes that use the same words.
//
// A document says what it is in its heading: the title lines of its first
// page.  Real contracts also name invoices, payment slips and the tender they
// came from ("mediante nota fiscal", "PREGÃO ELETRÔNICO Nº 44/2025" in a page
// header), so a document-kind term found anywhere says little.  Here:
//   * the contract vocabulary is counted over the whole text, each entry once,
//     as a plain substring of the folded text (NFD, marks dropped, lower case,
//     every run of white space one blank);
//   * the heading is the first `heading_chars` code points of the first page
//     that has text; its title lines are those of its first `title_lines`
//     non-blank lines, before the first line of running text (over ten words,
//     not in capitals), that are set like a title (at most eight words in at
//     most 100 code points, or in capitals in at most 200), and a contract
//     title of any length that names its parties ("Contrato nº 5/2025 que
//     entre si celebram ...");
//   * the first title line that declares a kind decides: a contract title
//     (`title_starts`: "CONTRATO Nº 077/2025", "TERMO ADITIVO", "ATA DE
//     REGISTRO DE PREÇOS") makes a contract of a document with enough
//     vocabulary; the title of another kind of document (`other_titles`:
//     "TERMO DE REFERÊNCIA", "PARECER JURÍDICO", "PROPOSTA") makes it none;
//   * without a title of either kind, a document-kind term in the heading
//     (`exclusion_terms`: "nota fiscal", "pregão eletrônico") rejects it;
//     otherwise it is a contract only when it is built like one: its first
//     `opening_pages` pages with text name both parties of a contract
//     (`party_pairs`: CONTRATANTE and CONTRATADA, LOCADOR and LOCATÁRIO) and
//     the text qualifies a party the way a preamble does (`qualification_terms`:
//     "neste ato representada por").  Vocabulary alone is what terms of
//     reference, studies and notices have too.
// A title line is matched after list markers, numbering, quotes and a
// SEI print header ("SEI/ORG - 123 - Termo de Referência": its last part).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillon::screening {

struct Tables {
    std::vector<std::u32string> contract_terms;       // as written
    std::vector<std::u32string> exclusion_terms;      // as written
    std::vector<std::u32string> title_starts;         // as written
    std::vector<std::u32string> other_titles;         // as written
    std::vector<std::pair<std::u32string, std::u32string>> party_pairs;  // as written
    std::vector<std::u32string> qualification_terms;  // as written
    std::size_t min_terms = 3;
    std::size_t heading_chars = 3000;
    std::size_t title_lines = 25;
    std::size_t opening_pages = 2;
};

// The vocabulary of validar_documento_contrato, its exclusion terms plus the
// document kinds that carry contract words in their own forms (a budget
// commitment note, the invoice's auxiliary document, a tender notice), the
// openings of contract titles and of the titles of the other documents of a
// procurement file, the parties' names and the preamble's qualification.
const Tables& default_tables();

enum class Reason {
    kEmpty,        // no text at all
    kTitle,        // a contract title in the heading, and enough vocabulary
    kTerms,        // no title: enough vocabulary, parties named and qualified
    kExcluded,     // another document's title, or an exclusion term in the heading without a contract title
    kTooFewTerms,  // not enough vocabulary
    kNoParties,    // no title: enough vocabulary, but no parties named and qualified as a contract does
};

struct DocumentVerdict {
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    bool contract = false;
    Reason reason = Reason::kEmpty;
    std::vector<std::size_t> terms_found;  // indices into contract_terms, table order
    std::size_t exclusion = npos;          // first exclusion term (table order) in the heading
    std::size_t other_title = npos;        // the other document's title that decided (index into other_titles)
    std::u32string title;                  // the deciding title line as written, trimmed; empty when none
    // Whether pages after these could not change `contract`: pages are read
    // in order, and a reader may stop here.  The heading is that of the first
    // page with text and the vocabulary and the qualification only grow, so a
    // contract stays one, a title of another document or an exclusion term
    // stays decisive, and a document whose opening pages (all read) name no
    // pair of parties never becomes one without a contract title.
    bool settled = false;
};

class DocumentScreen {
public:
    explicit DocumentScreen(Tables tables);
    const Tables& tables() const noexcept { return tables_; }

    // `pages` as extracted (not folded), in order.
    DocumentVerdict screen(const std::vector<std::u32string_view>& pages) const;

    // The entry reported as what spoke against a contract: the other
    // document's title that decided, else the first exclusion term found in
    // the heading (also when a contract title outweighed it); nullptr when
    // neither.  As written in the tables.
    const std::u32string* excluding_entry(const DocumentVerdict& v) const noexcept;

private:
    Tables tables_;
    std::vector<std::u32string> contract_folded_;
    std::vector<std::u32string> exclusion_folded_;
    std::vector<std::u32string> title_folded_;
    std::vector<std::u32string> other_folded_;
    std::vector<std::pair<std::u32string, std::u32string>> party_folded_;
    std::vector<std::u32string> qualification_folded_;
};

const char* reason_name(Reason r) noexcept;

// The pages of a document given as one text: separated by form feeds (as
// pdftotext writes them); a text without one is one page, an empty text one
// empty page.  Views into `text`.
std::vector<std::u32string_view> split_pages(std::u32string_view text);

}  // namespace quillon::screening
