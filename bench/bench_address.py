"""Address comparison against the same rules in plain Python with re.

    python bench/bench_address.py            # 20,000 pairs
    python bench/bench_address.py --quick    # 2,000 pairs

The pairs mix what the contract checker meets: the same address written
alike, abbreviated, with the number or postal code formatted differently,
street and number only, a different street, accents or none.  The baseline
compiles its sixteen patterns once (the fastest plain-Python form); a second
baseline passes pattern strings to re.sub, as such code is often written.

Ratios are "baseline time / quillon time" from one run in this process.
"""

from __future__ import annotations

import argparse
import random
import re
import pathlib
import sys
import unicodedata

from _harness import per_call_ns, report

from quillon.contract.countries.br.cnpj import _normalizar_endereco, comparar_enderecos

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))
from text_oracles import comparar_enderecos as py_comparar_oracle  # noqa: E402

RULES = [
    (r"\s+", " "), (r"[.,;:\-/\\]", " "), (r"\bn[ºo]?\s*", ""), (r"\brua\b", "r"), (r"\bavenida\b", "av"),
    (r"\bavda?\b", "av"), (r"\btravessa\b", "tv"), (r"\bpracas?\b", "pc"), (r"\bedificio\b", "ed"),
    (r"\bpredio\b", "ed"), (r"\bconjunto\b", "cj"), (r"\bconj\b", "cj"), (r"\bsala\b", "sl"),
    (r"\bandar\b", "and"), (r"\bbairro\b", ""), (r"\bcep\b", ""),
]
COMPILED = [(re.compile(p), r) for p, r in RULES]


def make_normaliser(subs):
    def normalizar(endereco: str) -> str:
        if not endereco:
            return ""
        nfd = unicodedata.normalize("NFD", endereco)
        s = "".join(c for c in nfd if unicodedata.category(c) != "Mn").lower().strip()
        for pattern, replacement in subs:
            s = sub(pattern, replacement, s)
        return s.strip()

    sub = re.sub
    return normalizar


py_normalizar = make_normaliser(COMPILED)
py_normalizar_strings = make_normaliser(RULES)


def make_comparer(normalizar):
    return lambda contrato, receita, threshold=0.85: py_comparar_oracle(contrato, receita, threshold, normalizar)


py_comparar = make_comparer(py_normalizar)
py_comparar_strings = make_comparer(py_normalizar_strings)

STREETS = [("AVENIDA PAULISTA", "Av. Paulista"), ("RUA DAS FLORES", "Rua das Flores"),
           ("PRACA DA SE", "Praça da Sé"), ("TRAVESSA SAO BENTO", "Tv. São Bento"),
           ("RUA DOUTOR JOSE MARIA WHITAKER", "R. Dr. José Maria Whitaker"),
           ("AVENIDA BRIGADEIRO FARIA LIMA", "Avenida Brigadeiro Faria Lima"),
           ("RUA NOVA ESPERANCA", "Rua Nova Esperança")]
PLACES = [("BELA VISTA", "SAO PAULO", "SP"), ("CENTRO", "CURITIBA", "PR"), ("SAVASSI", "BELO HORIZONTE", "MG"),
          ("JARDIM PAULISTANO", "SAO PAULO", "SP")]


def make_pairs(n: int, seed: int = 11) -> list[tuple[str, dict]]:
    rng = random.Random(seed)
    pairs = []
    for _ in range(n):
        reg_street, contract_street = rng.choice(STREETS)
        bairro, cidade, uf = rng.choice(PLACES)
        numero = str(rng.randrange(1, 4000))
        cep = f"{rng.randrange(1000, 99999):05d}{rng.randrange(0, 999):03d}"
        complemento = rng.choice(["", "", "SALA 1203", "CONJ 45", "ANDAR 7", "EDIFICIO CENTRAL"])
        dados = {"cnpj": "11222333000181", "endereco": {
            "logradouro": reg_street, "numero": numero, "complemento": complemento, "bairro": bairro,
            "cidade": cidade, "uf": uf, "cep": cep}}
        style = rng.randrange(5)
        if style == 0:
            contrato = f"{contract_street}, nº {numero}, {complemento.title()} - {bairro.title()}, " \
                       f"{cidade.title()}/{uf}, CEP {cep[:5]}-{cep[5:]}"
        elif style == 1:
            contrato = f"{contract_street} {numero}"
        elif style == 2:
            contrato = f"{reg_street} {numero} {complemento} {bairro} {cidade} {uf} {cep}"
        elif style == 3:
            other, _ = rng.choice(STREETS)
            contrato = f"{other.title()}, {rng.randrange(1, 4000)} - {bairro.title()} - {cidade.title()}"
        else:
            contrato = f"{contract_street}, {numero}, bairro {bairro.lower()}, {cidade}"
        pairs.append((contrato, dados))
    return pairs


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--quick", action="store_true")
    args = ap.parse_args()
    n = 2_000 if args.quick else 20_000
    pairs = make_pairs(n)
    for contrato, dados in pairs[:2000]:
        assert comparar_enderecos(contrato, dados) == py_comparar(contrato, dados), contrato
        assert _normalizar_endereco(contrato) == py_normalizar(contrato), contrato
    matches = sum(comparar_enderecos(c, d)[0] for c, d in pairs)
    print(f"{n:,} pairs, {matches:,} matching")

    def ours(pair):
        return comparar_enderecos(pair[0], pair[1])

    def plain(pair):
        return py_comparar(pair[0], pair[1])

    def plain_strings(pair):
        return py_comparar_strings(pair[0], pair[1])

    t_ours = per_call_ns(ours, pairs)
    t_plain = per_call_ns(plain, pairs)
    t_strings = per_call_ns(plain_strings, pairs)
    report("comparar_enderecos, per pair", [
        ("quillon", t_ours, None),
        ("plain Python, compiled re patterns", t_plain, t_plain / t_ours),
        ("plain Python, re.sub with pattern strings", t_strings, t_strings / t_ours),
    ])

    addresses = [c for c, _ in pairs]
    t_ours = per_call_ns(_normalizar_endereco, addresses)
    t_plain = per_call_ns(py_normalizar, addresses)
    report("_normalizar_endereco, per address", [
        ("quillon", t_ours, None),
        ("plain Python, compiled re patterns", t_plain, t_plain / t_ours),
    ])


if __name__ == "__main__":
    main()
