// A company's partner list (QSA) searched for a signatory by the tolerant
// name rule of names.hpp.  Each partner's names are prepared once, so one
// list searched for many signatories costs one normalisation per name, and a
// flat array of filters rules most partners out without touching the names.
#pragma once

#include <cstddef>
#include <utility>
#include <optional>
#include <unordered_set>
#include <vector>

#include "quillon/names.hpp"

namespace quillon::qsa {

// Which name matched: the partner's own, or its legal representative's.
struct Hit {
    std::size_t partner;
    bool representative;
};

class PartnerList {
public:
    // A partner, in the registry's order; `representante` empty when it has none.
    void add(names::Prepared nome, names::Prepared representante = {});
    std::size_t size() const noexcept { return partners_.size(); }

    // The first partner whose name, or else whose representative's name,
    // matches `nome`; nothing for an empty name.
    std::optional<Hit> find(const names::Prepared& nome) const;

private:
    struct Partner {
        names::Prepared nome;
        names::Prepared representante;
    };
    std::vector<Partner> partners_;
    std::vector<names::Prepared::Filter> filters_;  // two per partner: name, representative
};

// Where a signatory is looked for when the company it represents has no
// record of its own: the other companies' records, in order.  A record that
// appears several times (cached under its CNPJ and under its name) is
// searched once: key(record) names it, and a null key means "search it every
// time" (a host's own search, whose every call is its business).
// search(record) gives {rank, finding}, rank 0 (or false) when the record
// says nothing; keep(record, finding) receives each record that ranks above
// all before it, so the last one kept is the first of the highest rank.  The
// scan ends at a record that ranks `decisive`.
template <class Records, class Key, class Search, class Keep>
void scan_records(Records&& records, Key&& key, Search&& search, Keep&& keep, int decisive) {
    std::unordered_set<const void*> seen;
    int best = 0;
    for (auto&& record : records) {
        if (const void* k = key(record); k && !seen.insert(k).second) continue;
        auto [rank, finding] = search(record);
        if (static_cast<int>(rank) <= best) continue;
        best = static_cast<int>(rank);
        keep(record, std::move(finding));
        if (best >= decisive) return;
    }
}

}  // namespace quillon::qsa
