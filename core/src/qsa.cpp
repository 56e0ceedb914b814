#include "quillon/qsa.hpp"

#include <utility>

namespace quillon::qsa {

void PartnerList::add(names::Prepared nome, names::Prepared representante) {
    filters_.push_back(nome.filter());
    filters_.push_back(representante.filter());
    partners_.push_back({std::move(nome), std::move(representante)});
}

std::optional<Hit> PartnerList::find(const names::Prepared& nome) const {
    if (nome.empty()) return std::nullopt;
    const auto f = nome.filter();
    for (std::size_t i = 0; i < partners_.size(); ++i) {
        const Partner& p = partners_[i];
        if (names::Prepared::may_match(f, filters_[2 * i]) && names::match(nome, p.nome)) return Hit{i, false};
        if (!p.representante.empty() && names::Prepared::may_match(f, filters_[2 * i + 1]) &&
            names::match(nome, p.representante))
            return Hit{i, true};
    }
    return std::nullopt;
}

}  // namespace quillon::qsa
