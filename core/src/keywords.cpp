#include "quillon/keywords.hpp"

#include <algorithm>
#include <utility>

namespace quillon::keywords {

namespace {

using Edges = std::vector<std::pair<std::uint32_t, std::uint32_t>>;  // (class, target), by class

std::uint32_t find_edge(const Edges& edges, std::uint32_t cls) {
    auto it = std::lower_bound(edges.begin(), edges.end(), cls,
                               [](const auto& e, std::uint32_t k) { return e.first < k; });
    return (it != edges.end() && it->first == cls) ? it->second : 0;
}

}  // namespace

Matcher::Matcher(const std::vector<std::u32string>& needles, std::size_t max_dense_entries)
    : needle_count_(needles.size()) {
    // Classes: 0 for code points in no needle, then one per code point that
    // occurs, in code point order (those below U+0100 first).
    std::vector<char32_t> alphabet;
    for (const auto& needle : needles) {
        alphabet.insert(alphabet.end(), needle.begin(), needle.end());
        longest_ = std::max(longest_, needle.size());
    }
    std::sort(alphabet.begin(), alphabet.end());
    alphabet.erase(std::unique(alphabet.begin(), alphabet.end()), alphabet.end());
    classes_ = static_cast<std::uint32_t>(alphabet.size()) + 1;
    for (std::size_t i = 0; i < alphabet.size(); ++i) {
        if (alphabet[i] < 256)
            byte_class_[alphabet[i]] = static_cast<std::uint32_t>(i + 1);
        else
            wide_chars_.push_back(alphabet[i]);
    }
    const text::Latin1Fold& fold = text::latin1_fold();
    for (std::size_t b = 0; b < 256; ++b) latin1_class_[b] = byte_class_[fold.folded[b]];

    // The trie.  Edges are kept sorted by class.
    std::vector<Edges> children(1);
    std::vector<std::vector<std::uint32_t>> ends(1);
    for (std::size_t i = 0; i < needles.size(); ++i) {
        std::uint32_t state = 0;
        for (char32_t c : needles[i]) {
            std::uint32_t cls = class_of(c);
            Edges& edges = children[state];
            auto it = std::lower_bound(edges.begin(), edges.end(), cls,
                                       [](const auto& e, std::uint32_t k) { return e.first < k; });
            if (it != edges.end() && it->first == cls) {
                state = it->second;
                continue;
            }
            auto next = static_cast<std::uint32_t>(children.size());
            edges.insert(it, {cls, next});
            children.emplace_back();
            ends.emplace_back();
            state = next;
        }
        ends[state].push_back(static_cast<std::uint32_t>(i));
    }
    const std::size_t states = children.size();

    // Failure links, breadth first: a state's link is shallower than it.
    fail_.assign(states, 0);
    std::vector<std::uint32_t> order{0};
    order.reserve(states);
    for (std::size_t at = 0; at < order.size(); ++at) {
        std::uint32_t u = order[at];
        for (const auto& [cls, v] : children[u]) {
            std::uint32_t link = 0;
            if (u != 0) {
                std::uint32_t f = fail_[u];
                for (;;) {
                    std::uint32_t t = find_edge(children[f], cls);
                    if (t != 0) {
                        link = t;
                        break;
                    }
                    if (f == 0) break;
                    f = fail_[f];
                }
            }
            fail_[v] = link;
            order.push_back(v);
        }
    }

    // Terminals, and for every state the nearest terminal on its failure
    // chain (itself included): what is found on arriving there.
    terminal_of_state_.assign(states, kNone);
    report_of_state_.assign(states, kNone);
    for (std::uint32_t s : order) {
        if (!ends[s].empty()) {
            terminal_of_state_[s] = static_cast<std::uint32_t>(terminal_needles_.size());
            terminal_needles_.push_back(std::move(ends[s]));
        }
        if (terminal_of_state_[s] != kNone)
            report_of_state_[s] = terminal_of_state_[s];
        else if (s != 0)
            report_of_state_[s] = report_of_state_[fail_[s]];
    }
    terminal_next_.assign(terminal_needles_.size(), kNone);
    for (std::uint32_t s : order)
        if (terminal_of_state_[s] != kNone && s != 0) terminal_next_[terminal_of_state_[s]] = report_of_state_[fail_[s]];
    root_report_ = terminal_of_state_[0];

    // The sparse form, flattened.
    edge_begin_.reserve(states + 1);
    for (const Edges& edges : children) {
        edge_begin_.push_back(static_cast<std::uint32_t>(edge_class_.size()));
        for (const auto& [cls, target] : edges) {
            edge_class_.push_back(cls);
            edge_target_.push_back(target);
        }
    }
    edge_begin_.push_back(static_cast<std::uint32_t>(edge_class_.size()));

    // The dense form, when small enough.
    const std::size_t row = std::size_t{classes_} + 1;
    // Row offsets are 32-bit.
    if (states * row > std::min<std::size_t>(max_dense_entries, kNone)) return;
    table_.assign(states * row, 0);
    for (std::uint32_t s : order) {
        std::size_t base = s * row;
        table_[base] = report_of_state_[s];
        // Class 0 (table_[base + 1]) always leads back to the root.
        for (std::uint32_t cls = 1; cls < classes_; ++cls) {
            std::uint32_t t = find_edge(children[s], cls);
            if (t != 0)
                table_[base + 1 + cls] = static_cast<std::uint32_t>(t * row);
            else if (s != 0)
                table_[base + 1 + cls] = table_[fail_[s] * row + 1 + cls];
        }
    }
}

std::uint32_t Matcher::wide_class(char32_t c) const noexcept {
    auto it = std::lower_bound(wide_chars_.begin(), wide_chars_.end(), c);
    if (it == wide_chars_.end() || *it != c) return 0;
    auto below_256 = classes_ - 1 - static_cast<std::uint32_t>(wide_chars_.size());
    return below_256 + 1 + static_cast<std::uint32_t>(it - wide_chars_.begin());
}

std::uint32_t Matcher::sparse_step(std::uint32_t state, std::uint32_t cls) const noexcept {
    if (cls == 0) return 0;
    for (;;) {
        auto first = edge_class_.begin() + edge_begin_[state];
        auto last = edge_class_.begin() + edge_begin_[state + 1];
        auto it = std::lower_bound(first, last, cls);
        if (it != last && *it == cls) return edge_target_[static_cast<std::size_t>(it - edge_class_.begin())];
        if (state == 0) return 0;
        state = fail_[state];
    }
}

Matcher::Scan::Scan(const Matcher& m)
    : m_(m), seen_(m.terminal_needles_.size(), 0), found_(m.needle_count_, 0), remaining_(m.terminal_needles_.size()) {
    // An empty needle is in every text, the empty one included.
    if (m.root_report_ != kNone) report(m.root_report_);
}

void Matcher::Scan::report(std::uint32_t terminal) {
    // Once a terminal is seen, so is everything further down its chain.
    for (std::uint32_t t = terminal; t != kNone && !seen_[t]; t = m_.terminal_next_[t]) {
        seen_[t] = 1;
        --remaining_;
        for (std::uint32_t needle : m_.terminal_needles_[t]) found_[needle] = 1;
    }
}

namespace {

std::vector<std::u32string> folded_needles(const std::vector<std::u32string>& exclusion,
                                           const std::vector<std::u32string>& validation) {
    std::vector<std::u32string> out;
    out.reserve(exclusion.size() + validation.size());
    for (const auto& e : exclusion) out.push_back(text::fold(e));
    for (const auto& v : validation) out.push_back(text::fold(v));
    return out;
}

}  // namespace

KeywordScreen::KeywordScreen(const std::vector<std::u32string>& exclusion, const std::vector<std::u32string>& validation)
    : exclusion_count_(exclusion.size()),
      validation_count_(validation.size()),
      matcher_(folded_needles(exclusion, validation)) {}

KeywordVerdict KeywordScreen::verdict(const Matcher::Scan& scan) const {
    KeywordVerdict v;
    for (std::size_t i = 0; i < exclusion_count_; ++i) {
        if (scan.found(i)) {
            v.exclusion = i;
            return v;
        }
    }
    for (std::size_t i = 0; i < validation_count_; ++i)
        if (scan.found(exclusion_count_ + i)) v.validation.push_back(i);
    return v;
}

const KeywordScreen& default_keyword_screen() {
    static const KeywordScreen screener(std::vector<std::u32string>(kExclusao.begin(), kExclusao.end()),
                                   std::vector<std::u32string>(kValidacao.begin(), kValidacao.end()));
    return screener;
}

Screening screen_default(std::u32string_view text) {
    Screening out;
    if (text.empty()) return out;
    KeywordVerdict v = default_keyword_screen().screen(text.data(), text.size());
    if (v.excluded()) {
        std::u32string entry(kExclusionPrefix);
        entry.append(kExclusao[v.exclusion]);
        out.encontradas.push_back(std::move(entry));
        return out;
    }
    for (std::size_t i : v.validation) out.encontradas.emplace_back(kValidacao[i]);
    out.quantidade = out.encontradas.size();
    out.eh_contrato = out.quantidade >= static_cast<std::size_t>(kMinKeywords);
    return out;
}

}  // namespace quillon::keywords
