// Whether a signatory is a partner of the company's registry entry, weighing
// what a careful analyst weighs: the names and, when both sides give one, the
// CPF.  The tolerant name rule of names.hpp alone lets a fragment of a name
// approve ("JOSE SILVA" for the partner "FABIO JOSE SILVA COELHO"); here a
// CPF that disagrees refutes any name match, one that agrees confirms it, and
// a match by part of a name without a CPF to confirm it decides nothing.
#pragma once

#include "quillon/cpf.hpp"
#include "quillon/names.hpp"

namespace quillon::signatory {

// What decided about one partner (or one partner's legal representative), in
// increasing order of strength: of several partners, the strongest wins.
enum class Evidence {
    None,          // the names do not match
    CpfRefutes,    // the names match, the CPFs differ: not this person
    NameFragment,  // only part of the name matches, and no CPF confirms it
    FullName,      // the same name; no CPF to compare
    CpfConfirms,   // the names match and the CPF agrees
};

inline Evidence weigh(names::MatchKind name, cpf::Evidence cpf) noexcept {
    if (name == names::MatchKind::None) return Evidence::None;
    switch (cpf) {
        case cpf::Evidence::Disagrees:
            return Evidence::CpfRefutes;
        case cpf::Evidence::Agrees:
            return Evidence::CpfConfirms;
        case cpf::Evidence::Unknown:
            break;
    }
    return name == names::MatchKind::Full ? Evidence::FullName : Evidence::NameFragment;
}

// Whether the evidence lets the signature be approved.
inline bool approves(Evidence e) noexcept { return e == Evidence::FullName || e == Evidence::CpfConfirms; }

// The evidence's name in a verification record.
inline const char* label(Evidence e) noexcept {
    switch (e) {
        case Evidence::CpfConfirms:
            return "cpf";
        case Evidence::FullName:
            return "nome";
        case Evidence::NameFragment:
            return "nome_parcial";
        case Evidence::CpfRefutes:
            return "cpf_divergente";
        case Evidence::None:
            break;
    }
    return "nome_ausente";
}

}  // namespace quillon::signatory
