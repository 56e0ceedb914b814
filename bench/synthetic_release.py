"""A synthetic monthly release of the CNPJ open data, in the published layout,
with the value distributions of the real one, at any size.

    python synthetic_release.py FOLDER --establishments 20000000

Written as the Receita publishes it: ten numbered zips per table
(``Empresas0.zip`` ... ``Estabelecimentos9.zip``, ``Socios0.zip`` ...), each
holding one Latin-1 ``;``-separated file with every field quoted, plus the code
tables.  The shape follows the real release (about 60 million establishments,
as many companies, 26 million partners):

- about 93% of establishments are the head office of a company of their own;
  the rest are branches of a few companies with many (chains);
- status: 50% BAIXADA, 42% ATIVA, 7% INAPTA, the rest SUSPENSA or NULA;
- legal nature: half individual entrepreneurs (no partners, the legal name is
  the owner's name followed by digits), 30% limited companies, then EIRELI,
  associations, simple societies; size: micro 60%, small 8%, the rest other;
- share capital log-normal around R$ 10,000, zero for 15%;
- states by their share of companies (SP 28%, MG 11%, RJ 9%...), 5,570
  municipalities, a few very large;
- partners: none for individual entrepreneurs and for many closed companies,
  one to five otherwise (0.43 per company in all), masked CPFs; trade names for 45%, e-mail for 40%.
"""

from __future__ import annotations

import argparse
import io
import pathlib
import random
import sys
import time
import zipfile

FILES = 10
FIRST = ("MARIA", "JOSE", "ANA", "JOAO", "ANTONIO", "FRANCISCA", "CARLOS", "PAULO", "PEDRO", "LUCAS", "LUIZ",
         "MARCOS", "LUIS", "GABRIEL", "RAFAEL", "DANIEL", "MARCELO", "BRUNO", "EDUARDO", "FELIPE", "RAIMUNDO",
         "RODRIGO", "ADRIANA", "JULIANA", "MARCIA", "FERNANDA", "PATRICIA", "ALINE", "SANDRA", "CAMILA")
LAST = ("SILVA", "SANTOS", "OLIVEIRA", "SOUZA", "RODRIGUES", "FERREIRA", "ALVES", "PEREIRA", "LIMA", "GOMES",
        "COSTA", "RIBEIRO", "MARTINS", "CARVALHO", "ALMEIDA", "LOPES", "SOARES", "FERNANDES", "VIEIRA", "BARBOSA",
        "ROCHA", "DIAS", "NASCIMENTO", "ANDRADE", "MOREIRA", "NUNES", "MARQUES", "MACHADO", "MENDES", "FREITAS")
TRADE = ("COMERCIO", "SERVICOS", "TRANSPORTES", "CONSTRUTORA", "PADARIA", "INDUSTRIA", "DISTRIBUIDORA", "MERCADO",
         "TECNOLOGIA", "ALIMENTOS", "AGRICOLA", "CONSULTORIA", "ENGENHARIA", "AUTO PECAS", "FARMACIA", "RESTAURANTE",
         "SUPERMERCADO", "MATERIAIS DE CONSTRUCAO", "CONFECCOES", "INFORMATICA", "LOGISTICA", "SAUDE", "EDUCACAO")
PLACE = ("BRASIL", "NORDESTE", "PAULISTA", "MINEIRA", "DO SUL", "CENTRAL", "NACIONAL", "SAO JORGE", "SANTA RITA",
         "BOA VISTA", "NOVA ERA", "PRIMAVERA", "SOL NASCENTE", "TRES IRMAOS", "ESTRELA")
UF_SHARE = (("SP", 28), ("MG", 11), ("RJ", 9), ("PR", 7), ("RS", 7), ("SC", 5), ("BA", 5), ("GO", 4), ("PE", 3),
            ("CE", 3), ("DF", 2), ("ES", 2), ("PA", 2), ("MT", 2), ("MS", 1), ("MA", 1), ("PB", 1), ("RN", 1),
            ("AL", 1), ("PI", 1), ("AM", 1), ("SE", 1), ("RO", 1), ("TO", 1), ("AC", 1), ("AP", 1), ("RR", 1))
STATUS = (("08", 50), ("02", 42), ("04", 7), ("03", 0.5), ("01", 0.5))
NATURE = (("2135", 50), ("2062", 30), ("2305", 5), ("3999", 4), ("2240", 3), ("2054", 2), ("2143", 2), ("1244", 1),
          ("2046", 1), ("3220", 1), ("2330", 1))
SIZE = (("01", 60), ("03", 8), ("05", 32))
STREET = ("RUA", "AVENIDA", "TRAVESSA", "ESTRADA", "RODOVIA", "ALAMEDA", "PRACA")
MUNICIPALITIES = 5570


def check_digits(base: str) -> str:
    """The two check digits of a 12-digit CNPJ base, by the registry's own rule."""
    from quillon.contract.countries.br.cnpj import _calcular_digito_cnpj

    first = _calcular_digito_cnpj(base, [5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2])
    return first + _calcular_digito_cnpj(base + first, [6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2])


def quoted(fields) -> str:
    return ";".join('"' + f.replace('"', '""') + '"' for f in fields) + "\n"


def weighted(rng: random.Random, table, k: int) -> list[str]:
    return rng.choices([v for v, _ in table], weights=[w for _, w in table], k=k)


class Release:
    """Writes the release; every table a function of the establishment count and the seed."""

    def __init__(self, folder: pathlib.Path, establishments: int, seed: int = 2026):
        self.folder, self.n, self.rng = folder, establishments, random.Random(seed)
        self.folder.mkdir(parents=True, exist_ok=True)
        # Zipf-like municipality weights: a few capitals hold much of every table.
        self.municipalities = [1 + i for i in range(MUNICIPALITIES)]
        self.municipality_weights = [1 / (i + 1) ** 0.9 for i in range(MUNICIPALITIES)]

    def _zip(self, name: str, member: str, lines) -> int:
        count = 0
        with zipfile.ZipFile(self.folder / name, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as archive:
            with archive.open(member, "w", force_zip64=True) as out:
                buffer = io.StringIO()
                for count, text in enumerate(lines, 1):
                    buffer.write(text)
                    if count % 20000 == 0:
                        out.write(buffer.getvalue().encode("latin-1"))
                        buffer = io.StringIO()
                out.write(buffer.getvalue().encode("latin-1"))
        return count

    def code_tables(self) -> None:
        self._zip("Municipios.zip", "F.K03200$Z.D51213.MUNICCSV",
                  (quoted([str(c), f"MUNICIPIO {c}"]) for c in self.municipalities))
        self._zip("Naturezas.zip", "F.K03200$Z.D51213.NATJUCSV",
                  (quoted([code, f"Natureza {code}"]) for code, _ in NATURE))
        self._zip("Qualificacoes.zip", "F.K03200$Z.D51213.QUALSCSV",
                  (quoted([f"{c:02d}", f"Qualificação {c}"]) for c in range(80)))
        self._zip("Motivos.zip", "F.K03200$Z.D51213.MOTICSV", (quoted([f"{c:02d}", f"MOTIVO {c}"]) for c in range(80)))

    def write(self, progress=print) -> dict[str, int]:
        """Every file; the line count of each table."""
        self.code_tables()
        counts = {"Empresas": 0, "Estabelecimentos": 0, "Socios": 0}
        per_file = -(-self.n // FILES)
        basico = 0
        for f in range(FILES):
            first, last = f * per_file, min(self.n, (f + 1) * per_file)
            if first >= last:
                break
            # Establishments of this file: head offices of new companies, or branches of chains.
            owners, orders = [], []
            for _ in range(last - first):
                if basico < 1000 or self.rng.random() < 0.93:
                    owners.append(basico)
                    orders.append(1)
                    basico += 1
                else:
                    chain = int(self.rng.paretovariate(1.2)) % 1000  # a few chains, many branches
                    owners.append(chain)
                    orders.append(2 + self.rng.randrange(9000))
            new = [b for b, o in zip(owners, orders) if o == 1]
            natures = dict(zip(new, weighted(self.rng, NATURE, len(new))))
            counts["Estabelecimentos"] += self._zip(f"Estabelecimentos{f}.zip", f"K3241.K03200Y{f}.D51213.ESTABELE",
                                                    self._establishments(owners, orders))
            counts["Empresas"] += self._zip(f"Empresas{f}.zip", f"K3241.K03200Y{f}.D51213.EMPRECSV",
                                            self._companies(new, natures))
            counts["Socios"] += self._zip(f"Socios{f}.zip", f"K3241.K03200Y{f}.D51213.SOCIOCSV",
                                          self._partners(new, natures))
            progress(f"  file {f + 1}/{FILES}: {last:,} establishments, {basico:,} companies, "
                     f"{counts['Socios']:,} partners")
        return counts

    def _person(self) -> str:
        rng = self.rng
        return f"{rng.choice(FIRST)} {rng.choice(LAST)} {rng.choice(LAST)}"

    def _company_name(self, basico: int, nature: str) -> str:
        rng = self.rng
        if nature == "2135":  # an individual entrepreneur: the owner's name and digits of the CPF
            return f"{self._person()} {rng.randrange(10**11):011d}"
        suffix = {"2062": "LTDA", "2305": "EIRELI", "2054": "S.A.", "2046": "S.A."}.get(nature, "")
        return f"{rng.choice(TRADE)} {rng.choice(PLACE)} {basico % 10000} {suffix}".strip()

    def _companies(self, new: list[int], natures: dict[int, str]):
        rng = self.rng
        sizes = weighted(rng, SIZE, len(new))
        for b, size in zip(new, sizes):
            nature = natures[b]
            capital = 0 if rng.random() < 0.15 else int(rng.lognormvariate(9.2, 2.0))
            yield quoted([f"{b:08d}", self._company_name(b, nature), nature, "49", f"{capital},00", size, ""])

    def _establishments(self, owners: list[int], orders: list[int]):
        rng = self.rng
        k = len(owners)
        statuses = weighted(rng, STATUS, k)
        ufs = weighted(rng, UF_SHARE, k)
        towns = rng.choices(self.municipalities, weights=self.municipality_weights, k=k)
        for b, order, status, uf, town in zip(owners, orders, statuses, ufs, towns):
            trade = f"{rng.choice(TRADE)} {rng.choice(PLACE)}" if rng.random() < 0.45 else ""
            yield quoted([
                f"{b:08d}", f"{order:04d}", check_digits(f"{b:08d}{order:04d}"), "1" if order == 1 else "2", trade, status,
                f"20{rng.randrange(10, 25)}{rng.randrange(1, 13):02d}{rng.randrange(1, 29):02d}",
                "01" if status == "08" else "00", "", "",
                f"{rng.randrange(1970, 2025)}{rng.randrange(1, 13):02d}{rng.randrange(1, 29):02d}",
                f"{rng.randrange(111, 9999) * 1000 + rng.randrange(1000):07d}", "", rng.choice(STREET),
                f"{rng.choice(LAST)} {rng.choice(FIRST)}", str(rng.randrange(1, 5000)),
                f"SALA {rng.randrange(1, 300)}" if rng.random() < 0.3 else "", "CENTRO",
                f"{rng.randrange(10**8):08d}", uf, str(town), "11", f"{rng.randrange(2 * 10**7, 10**8)}", "", "", "", "",
                f"contato{b}@exemplo.com.br" if rng.random() < 0.4 else "", "", ""])

    def _partners(self, new: list[int], natures: dict[int, str]):
        rng = self.rng
        for b in new:
            # Individual entrepreneurs have no partners; many closed companies none published.
            if natures[b] == "2135" or rng.random() < 0.28:
                continue
            for _ in range(min(5, 1 + int(rng.expovariate(1 / 0.55)))):
                yield quoted([f"{b:08d}", "2", self._person(), f"***{rng.randrange(10**6):06d}**",
                              rng.choice(("49", "22", "05", "16", "10")),
                              f"20{rng.randrange(0, 25):02d}{rng.randrange(1, 13):02d}{rng.randrange(1, 29):02d}",
                              "", "***000000**", "", "00", str(rng.randrange(1, 9))])


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--establishments", type=int, default=20_000_000)
    parser.add_argument("--seed", type=int, default=2026)
    args = parser.parse_args()
    started = time.perf_counter()
    counts = Release(pathlib.Path(args.folder), args.establishments, args.seed).write(
        progress=lambda line: print(line, file=sys.stderr, flush=True))
    print(f"{counts} in {time.perf_counter() - started:.0f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
