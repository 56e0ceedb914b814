// A company's partner list (QSA) searched for a signatory by the tolerant
// name rule of names.hpp.  Each partner's names are prepared once, so one
// list searched for many signatories costs one normalisation per name, and a
// flat array of filters rules most partners out without touching the names.
#pragma once

#include <cstddef>
#include <optional>
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

}  // namespace quillon::qsa
