// Contract keyword screening: does a text look like a contract?
//
// Both the text and the table entries are folded (NFD, non-spacing marks
// dropped, full lower-case), then each entry is a plain substring search on the
// folded text, with no word boundaries ("termo" is in "termos").  An entry of
// the exclusion table found anywhere rejects the text at once (the first in
// table order is reported); otherwise the validation entries found are
// counted, each once, in table order.  Entries that fold alike (cláusula,
// clausula) are separate entries and are both found by the same occurrence.
//
// All entries are searched in one pass over the text: an Aho-Corasick automaton
// over the code points that occur in the entries, compiled to a full
// transition table when it is small (the built-in tables: some 400 states and
// 30 classes), and walked through its failure links otherwise.  8-bit text is
// folded on the fly (every Latin-1 code point folds to one); wider text is
// folded and classed a block at a time, so memory stays a block whatever the
// text's size.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "quillon/text.hpp"

namespace quillon::keywords {

// The built-in tables, precomposed (accented letters are single code points).
inline constexpr std::array<std::u32string_view, 38> kValidacao{
    U"contrato", U"acordo", U"termo", U"instrumento", U"aditivo", U"distrato", U"contratante",
    U"contratada", U"contratado", U"prestador", U"prestadora", U"tomador", U"tomadora",
    U"cláusula", U"clausula", U"objeto", U"vigência", U"vigencia", U"valor", U"pagamento",
    U"obrigações", U"obrigacoes", U"rescisão", U"rescisao", U"foro", U"cnpj", U"inscrita",
    U"inscrito", U"neste ato representada", U"neste ato representado", U"doravante denominada",
    U"doravante denominado", U"assinatura", U"assinado", U"firmado", U"testemunha",
    U"certificado digital", U"icp-brasil",
};
inline constexpr std::array<std::u32string_view, 9> kExclusao{
    U"edital de licitação", U"pregão eletrônico", U"tomada de preços", U"concorrência pública",
    U"carta convite", U"nota fiscal", U"recibo", U"boleto", U"fatura",
};
inline constexpr int kMinKeywords = 3;

// A set of needles (already folded) found in one pass over a text.
class Matcher {
public:
    // Beyond `max_dense_entries` transition-table entries (4 bytes each) the
    // automaton is walked through its failure links instead.
    static constexpr std::size_t kMaxDenseEntries = std::size_t{1} << 21;
    explicit Matcher(const std::vector<std::u32string>& needles, std::size_t max_dense_entries = kMaxDenseEntries);

    std::size_t needle_count() const noexcept { return needle_count_; }
    bool dense() const noexcept { return !table_.empty(); }

    // The class of a folded code point, and of the fold of a Latin-1 one.
    std::uint32_t class_of(char32_t c) const noexcept {
        if (c < 256) return byte_class_[c];
        return wide_class(c);
    }
    std::uint32_t latin1_class(std::uint8_t c) const noexcept { return latin1_class_[c]; }

    // The search of one text, fed in order and in pieces of any size.
    class Scan {
    public:
        explicit Scan(const Matcher& m);
        // Folded text.
        template <class CharT>
        void feed(const CharT* s, std::size_t n);
        // Code points below U+0100, not yet folded: folded one by one.
        template <class CharT>
        void feed_latin1_unfolded(const CharT* s, std::size_t n);
        // Text already turned into classes (class_of, latin1_class).
        void feed_classes(const std::uint32_t* s, std::size_t n) {
            if (remaining_ == 0) return;
            run(s, n, [](std::uint32_t cls) { return cls; });
        }
        // Every needle found: nothing more to learn from the rest of the text.
        bool complete() const noexcept { return remaining_ == 0; }
        bool found(std::size_t needle) const { return found_[needle] != 0; }

    private:
        template <class ClassOf, class CharT>
        void run(const CharT* s, std::size_t n, ClassOf&& class_of);
        template <class ClassOf, class CharT>
        void run_interleaved(const CharT* s, std::size_t n, ClassOf&& class_of);
        void report(std::uint32_t terminal);

        const Matcher& m_;
        std::uint32_t state_ = 0;           // a row offset (dense) or a state (sparse)
        std::vector<std::uint8_t> seen_;    // by terminal
        std::vector<std::uint8_t> found_;   // by needle
        std::size_t remaining_;             // terminals not seen yet
    };

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    std::uint32_t wide_class(char32_t c) const noexcept;
    std::uint32_t sparse_step(std::uint32_t state, std::uint32_t cls) const noexcept;

    // A long text is cut into this many pieces walked side by side: each step
    // of the walk waits for the previous one's table load, so independent
    // walks overlap those waits.  Each piece after the first starts from the
    // root as many code points early as the longest needle, less one, so no
    // occurrence across a cut is missed.
    static constexpr std::size_t kStreams = 4;
    static constexpr std::size_t kInterleaveFrom = 4096;

    std::size_t needle_count_ = 0;
    std::size_t longest_ = 0;                         // code points of the longest needle
    std::uint32_t classes_ = 1;                       // class 0: a code point in no needle
    std::array<std::uint32_t, 256> byte_class_{};     // classes of U+0000..U+00FF
    std::array<std::uint32_t, 256> latin1_class_{};   // classes of their folds
    std::vector<char32_t> wide_chars_;                // needle code points above U+00FF, sorted
    // Trie with failure links (the sparse form).
    std::vector<std::uint32_t> edge_begin_;           // per state, into edge_class_/edge_target_
    std::vector<std::uint32_t> edge_class_;
    std::vector<std::uint32_t> edge_target_;
    std::vector<std::uint32_t> fail_;
    // Terminals: states where needles end, numbered 0..T-1.
    std::vector<std::uint32_t> terminal_of_state_;    // kNone when the state ends no needle
    std::vector<std::uint32_t> report_of_state_;      // nearest terminal on the failure chain, or kNone
    std::vector<std::uint32_t> terminal_next_;        // next terminal on the failure chain, or kNone
    std::vector<std::vector<std::uint32_t>> terminal_needles_;
    std::uint32_t root_report_ = kNone;               // empty needles: found in any text
    // Dense form: rows of 1 + classes_ entries, [report terminal, next row by
    // class...], addressed by row offset.
    std::vector<std::uint32_t> table_;
};

// The screening verdict: the first exclusion entry found, else the validation
// entries found, by index into the tables given.
struct KeywordVerdict {
    static constexpr std::size_t kNoExclusion = static_cast<std::size_t>(-1);
    std::size_t exclusion = kNoExclusion;
    std::vector<std::size_t> validation;
    bool excluded() const noexcept { return exclusion != kNoExclusion; }
};

class KeywordScreen {
public:
    // Table entries as written; they are folded here.
    KeywordScreen(const std::vector<std::u32string>& exclusion, const std::vector<std::u32string>& validation);

    // `s` is the text as given (not folded).
    template <class CharT>
    KeywordVerdict screen(const CharT* s, std::size_t n) const;

private:
    KeywordVerdict verdict(const Matcher::Scan& scan) const;

    std::size_t exclusion_count_;
    std::size_t validation_count_;
    Matcher matcher_;
};

// The screener of the built-in tables, built on first use.
const KeywordScreen& default_keyword_screen();

// The whole screening with the built-in tables and minimum, as the module
// function answers it.
struct Screening {
    bool eh_contrato = false;
    std::size_t quantidade = 0;
    // The validation entries found, as written, or the one entry
    // "EXCLUSÃO: <exclusion entry as written>".
    std::vector<std::u32string> encontradas;
};
Screening screen_default(std::u32string_view text);

inline constexpr std::u32string_view kExclusionPrefix = U"EXCLUSÃO: ";

// ---------------------------------------------------------------------------

template <class ClassOf, class CharT>
void Matcher::Scan::run(const CharT* s, std::size_t n, ClassOf&& class_of) {
    if (m_.dense() && n >= kInterleaveFrom && n / kStreams > 2 * m_.longest_) {
        run_interleaved(s, n, class_of);
        return;
    }
    std::uint32_t state = state_;
    if (m_.dense()) {
        const std::uint32_t* table = m_.table_.data();
        for (std::size_t i = 0; i < n; ++i) {
            state = table[state + 1 + class_of(s[i])];
            std::uint32_t t = table[state];
            if (t != kNone && !seen_[t]) {
                report(t);
                if (remaining_ == 0) break;
            }
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            state = m_.sparse_step(state, class_of(s[i]));
            std::uint32_t t = m_.report_of_state_[state];
            if (t != kNone && !seen_[t]) {
                report(t);
                if (remaining_ == 0) break;
            }
        }
    }
    state_ = state;
}

template <class ClassOf, class CharT>
void Matcher::Scan::run_interleaved(const CharT* s, std::size_t n, ClassOf&& class_of) {
    constexpr std::size_t K = kStreams;
    const std::uint32_t* table = m_.table_.data();
    const std::size_t warm_up = m_.longest_ > 0 ? m_.longest_ - 1 : 0;
    const std::size_t piece = n / K;
    const CharT* at[K];
    std::size_t left[K];
    std::uint32_t state[K];
    for (std::size_t k = 0; k < K; ++k) {
        std::size_t first = k == 0 ? 0 : k * piece - warm_up;
        std::size_t last = k == K - 1 ? n : (k + 1) * piece;
        at[k] = s + first;
        left[k] = last - first;
        state[k] = k == 0 ? state_ : 0;
    }
    std::size_t common = left[0];
    for (std::size_t k = 1; k < K; ++k) common = std::min(common, left[k]);
    for (std::size_t i = 0; i < common; ++i) {
        std::uint32_t any = kNone;
        for (std::size_t k = 0; k < K; ++k) {
            state[k] = table[state[k] + 1 + class_of(at[k][i])];
            any &= table[state[k]];
        }
        if (any == kNone) continue;  // no stream stands on a terminal
        for (std::size_t k = 0; k < K; ++k) {
            std::uint32_t t = table[state[k]];
            if (t != kNone && !seen_[t]) {
                report(t);
                if (remaining_ == 0) return;
            }
        }
    }
    for (std::size_t k = 0; k < K; ++k) {
        for (std::size_t i = common; i < left[k]; ++i) {
            state[k] = table[state[k] + 1 + class_of(at[k][i])];
            std::uint32_t t = table[state[k]];
            if (t != kNone && !seen_[t]) {
                report(t);
                if (remaining_ == 0) return;
            }
        }
    }
    // The last piece started early enough to know the exact state at its end.
    state_ = state[K - 1];
}

template <class CharT>
void Matcher::Scan::feed(const CharT* s, std::size_t n) {
    if (remaining_ == 0) return;
    run(s, n, [this](CharT c) { return m_.class_of(static_cast<char32_t>(c)); });
}

template <class CharT>
void Matcher::Scan::feed_latin1_unfolded(const CharT* s, std::size_t n) {
    if (remaining_ == 0) return;
    const std::uint32_t* classes = m_.latin1_class_.data();
    run(s, n, [classes](CharT c) { return classes[static_cast<std::uint8_t>(c)]; });
}

template <class CharT>
KeywordVerdict KeywordScreen::screen(const CharT* s, std::size_t n) const {
    Matcher::Scan scan(matcher_);
    if (n == 0) return verdict(scan);
    if constexpr (sizeof(CharT) == 1) {
        scan.feed_latin1_unfolded(reinterpret_cast<const std::uint8_t*>(s), n);
    } else {
        // The text becomes a block of classes at a time, which is then
        // walked like 8-bit text.  Latin-1 stretches are classed through the
        // table; the rest goes through the folder, whose output is classed
        // once no combining marks wait for reordering at its end.
        constexpr std::size_t kBlock = 16384;
        std::vector<std::uint32_t> classes(kBlock);
        std::size_t used = 0;
        std::u32string folded;
        text::Folder folder(folded);
        auto hand_over = [&] {
            scan.feed_classes(classes.data(), used);
            used = 0;
        };
        auto take_folded = [&] {
            for (char32_t c : folded) {
                if (used == kBlock) hand_over();
                classes[used++] = matcher_.class_of(c);
            }
            folded.clear();
        };
        text::for_each_latin1_run(
            s, n,
            [&](const CharT* run, std::size_t len) {
                if (!folded.empty() || !folder.settled()) {
                    folder.finish();
                    take_folded();
                }
                folder.skip_latin1_run(run, len);
                while (len > 0) {
                    if (used == kBlock) hand_over();
                    std::size_t take = std::min(len, kBlock - used);
                    std::uint32_t* out = classes.data() + used;
                    for (std::size_t i = 0; i < take; ++i)
                        out[i] = matcher_.latin1_class(static_cast<std::uint8_t>(run[i]));
                    used += take;
                    run += take;
                    len -= take;
                }
            },
            [&](std::size_t i) {
                folder.push(static_cast<char32_t>(s[i]), [&](auto&& visit) {
                    for (std::size_t j = i + 1; j < n; ++j)
                        if (!visit(static_cast<char32_t>(s[j]))) return;
                });
                if (folder.settled()) take_folded();
            });
        folder.finish();
        take_folded();
        hand_over();
    }
    return verdict(scan);
}

}  // namespace quillon::keywords
