"""The parties of a contract: companies by CNPJ, their names, roles, addresses
and the people who represent them in the qualification clause."""

from __future__ import annotations

import re
from dataclasses import dataclass, field
from typing import Callable, Optional

from quillon.engine.extractor._text import (
    LETTER,
    UPPER,
    clean_value,
    fold,
    is_person_name,
    leading_name,
    starts_with_cargo,
    strip_honorific,
)

# A CNPJ as contracts write it: masked or not, with stray spaces around the
# separators ("09.025.418/0001- 28"); alphanumeric ones only fully masked.
CNPJ_RE = re.compile(
    r"(?<![\w/.-])("
    r"\d{2}\s?\.?\s?\d{3}\s?\.?\s?\d{3}\s?/?\s?\d{4}\s?-?\s?\d{2}"
    r"|[0-9A-Z]{2}\.[0-9A-Z]{3}\.[0-9A-Z]{3}/[0-9A-Z]{4}-\d{2}"
    r")(?![\w])"
)
CPF_RE = re.compile(r"CPF(?:/MF)?\s*(?:\(MF\)\s*)?(?::|sob|o\b|n[º°o.]|número|numero|\s)*\s*(\d{3}\.?\d{3}\.?\d{3}\s?-?\s?\d{2})", re.I)

ROLE_WORDS = (
    r"CONTRATANTE|CONTRATAD[OA](?:\(A\))?|INTERVENIENTE(?:[- ]ANUENTE)?|ANUENTE|FIADOR(?:A|\(A\))?"
    r"|LOCADOR(?:A)?|LOCAT[AÁ]RI[OA]|CEDENTE|CESSION[AÁ]RI[OA]|COMPRADOR(?:A)?|VENDEDOR(?:A)?"
    r"|PROMITENTE|CONSORCIAD[OA]|DEVEDOR(?:A)?|CREDOR(?:A)?|PARCEIR[OA]"
)
_DESIGNATION = (
    r"(?:doravante|adiante|a\s+seguir|simplesmente|daqui\s+por\s+diante|neste\s+instrumento|"
    r"denominad[oa](?:\(a\))?|designad[oa](?:\(a\))?|chamad[oa](?:\(a\))?|referid[oa](?:\(a\))?|"
    r"como|de|apenas|somente|tão\s+somente|\s)+"
)
ROLE_AFTER_RE = re.compile(
    rf"(?:denominad[oa]|designad[oa]|chamad[oa]|referid[oa]|doravante|na\s+qualidade\s+de|na\s+condição\s+de)"
    rf"(?:\(a\))?{_DESIGNATION}?[\"“']?\s*({ROLE_WORDS})\b",
    re.I,
)
ROLE_LABEL_RE = re.compile(rf"(?<![\w])({ROLE_WORDS})\s*(?::|–|—|-)?\s+(?=[\"“]?[{UPPER}0-9])")
_SIDE_RE = re.compile(
    r"(?:^|[\s,;])(?:de\s+um\s+lado|de\s+outro\s+lado|do\s+outro\s+lado|e\s*,?\s*de\s+outro(?:\s+lado)?|"
    r"e\s*,?\s*ainda|e\s*,?\s*como\s+interveniente(?:\s+anuente)?|e\s*,?\s*na\s+qualidade\s+de\s+\w+)\s*,?\s*",
    re.I,
)
_ROLE_END_RE = re.compile(
    rf"(?:denominad[oa]|designad[oa]|chamad[oa]|doravante)(?:\(a\))?{_DESIGNATION}?[\"“']?\s*(?:{ROLE_WORDS})[\"”']?\s*"
    r"(?:[,;]\s*|\s+)(?:e\s+|e,\s+)?",
    re.I,
)
_ABBREVIATIONS = {
    "av", "r", "dr", "dra", "sr", "sra", "srta", "n", "no", "nº", "prof", "profa", "s", "a", "cia", "jr", "al",
    "trav", "rod", "km", "apto", "ap", "ed", "conj", "bl", "ltda", "lt", "qd", "est", "eng", "exmo", "exma",
    "id", "art", "inc", "pç", "pca", "tv", "sl", "cj", "etc", "brig", "cel", "gal", "pres", "dep", "ver", "min",
}

_LEADING_FILLERS = re.compile(
    r"^(?:(?:de\s+um\s+lado|de\s+outro\s+lado|e|ainda|como|na\s+qualidade\s+de\s+\w+|pela|pelo|por)\s*,?\s*)*"
    r"(?:(?:a|o|à|ao|o\(a\)|a\(o\))\s+)?"
    r"(?:(?:empresa|sociedade(?:\s+empresária)?|entidade|pessoa\s+jurídica|instituição|associação\s+civil)\s+)?",
    re.I,
)
_NAME_STOP = re.compile(
    r"(?:,|\s+[-–—]\s+(?=CNPJ)|\s+(?=\(?CNPJ)|\s+(?=inscrit)|\s*\(\s*(?=doravante|nome\s+fantasia|CNPJ))\s*"
    r"(?=pessoa|inscrit|com\s+sede|sediad|estabelecid|situad|localizad|sit[oa]\b|sociedade|associa|"
    r"empresa\s+(?:privada|pública|individual|brasileira)|entidade|fundação\s+(?:de\s+direito|privada|pública)|"
    r"órgão|orgao|autarquia|de\s+direito|neste\s+ato|por\s+interm|portador|doravante|com\s+endere|"
    r"cadastrad|registrad|\(?CNPJ|n[º°]|cujo|com\s+(?:seus|atos)|empresa\s+com|nome\s+fantasia|"
    r"legalmente|devidamente|constituíd|organizad|sob\s+a\s+forma|com\s+estatuto|matriz|filial|"
    r"aqui\s+representad|representad|brasileir|com\s+inscri|titular|ente\s+federa|instituíd)",
    re.I,
)
_INTERMEDIARY = re.compile(r"por\s+(?:intermédio|meio)\s+d[oa](?:\(a\))?\s+(.+)", re.I)
_LABEL_NAME = re.compile(
    r"(?:raz[aã]o\s+social|nome\s+empresarial|denomina[cç][aã]o(?:\s+social)?|empresa|nome)\s*:\s*(.+)", re.I
)
_ADDRESS_RE = re.compile(
    r"(?:com\s+sede|sediad[oa](?:\(a\))?|estabelecid[oa](?:\(a\))?|situad[oa](?:\(a\))?|localizad[oa](?:\(a\))?|"
    r"\bsit[oa]|com\s+endereço|endereço)\s*(?:social\s*)?(?::|e\s+foro\s+)?\s*"
    r"(?:(?:no\(a\)|na|no|à|ao|em|a|nesta\s+cidade|nesta\s+capital|na\s+cidade\s+de\s+[^,]+,)\s+)*"
    r"(.+?)"
    r"(?=\s*(?:,\s*|\s+e\s+|\s+)(?:inscrit|neste\s+ato|doravante|representad|por\s+meio|por\s+interm|"
    r"por\s+seu|por\s+sua|portador|CNPJ|com\s+(?:o\s+)?CNPJ|sob\s+o|cadastrad|registrad|"
    r"aqui\s+representad|denominad|designad|e\s+inscri|Inscrição|telefone|e-mail|email)|;|"
    r"(?<!\bAv)(?<!\bR)(?<!\bn)(?<!\bAl)(?<!\bDr)(?<!\bEd)(?<!\bBl)(?<!\bQd)(?<!\bLt)(?<!\bnº)(?<!\bSr)(?<!\bRod)(?<!\bBrig)(?<!\bCel)(?<!\bGal)(?<!\bPres)(?<!\bEng)"
    r"\.\s+[{UPPER}]|$)".replace(
        "{UPPER}", UPPER
    ),
    re.I,
)
_REPRESENTATION = re.compile(
    r"(?:neste\s+ato|aqui|ora|devidamente)?\s*representad[oa](?:\(a\))?\s+(?:neste\s+ato\s+|legalmente\s+)?"
    r"(?:por|pelo|pela|pelos|pelas|pelo\(a\)|pela\(o\))\s+(.+?)"
    r"(?=[,;]?\s*(?:doravante|a\s+seguir|adiante|simplesmente\s+denominad|denominad|designad|"
    r"resolvem|têm\s+entre|tem\s+entre|celebram|ajustam|firmam)|;|$)",
    re.I,
)
_POSSESSIVE = re.compile(r"^(?:seu|sua|seus|suas|o\s+seu|a\s+sua|os\s+seus|as\s+suas)\s+(.+)$", re.I)
_NAME_IN_CHUNK = re.compile(rf"^(?:(?:o|a)\s+)?(?:(?:sr|sra|srta|dr|dra)\.?\s*)?([{UPPER}][{LETTER}'’. -]+)$")


@dataclass
class Person:
    nome: str
    cargo: Optional[str] = None
    cpf: Optional[str] = None


@dataclass
class Party:
    cnpj: str
    cnpj_limpo: str
    position: int
    razao_social: Optional[str] = None
    nome_fantasia: Optional[str] = None
    endereco: Optional[str] = None
    papel: Optional[str] = None
    representantes: list[Person] = field(default_factory=list)
    span: tuple[int, int] = (0, 0)

    def as_answer(self) -> dict:
        return {
            "cnpj": self.cnpj,
            "razao_social": self.razao_social,
            "nome_fantasia": self.nome_fantasia,
            "endereco": self.endereco,
            "papel_no_contrato": self.papel,
        }


def normalize_role(word: str) -> str:
    """contratante, contratada, interveniente, fiadora, or the role as written in lower case."""
    w = fold(word).replace("(a)", "").replace(" ", "-")
    if w.startswith("contratant"):
        return "contratante"
    if w.startswith("contratad"):
        return "contratada"
    if w.startswith("interveniente") or w == "anuente":
        return "interveniente"
    if w.startswith("fiador"):
        return "fiadora"
    return w


def find_cnpjs(flat: str, validar: Callable[[str], bool], limpar: Callable[[str], str]) -> list[tuple[int, str, str]]:
    """(position, CNPJ as written without stray spaces, clean CNPJ) of every valid CNPJ, in order."""
    found = []
    for m in CNPJ_RE.finditer(flat):
        written = re.sub(r"\s+", "", m.group(1))
        if validar(written):
            found.append((m.start(1), written, limpar(written)))
    return found


def _is_sentence_end(flat: str, dot: int) -> bool:
    j = dot - 1
    while j >= 0 and (flat[j].isalnum() or flat[j] in "º°"):
        j -= 1
    word = fold(flat[j + 1 : dot])
    if not word or word in _ABBREVIATIONS or len(word) == 1 or word.isdigit():
        return False
    # "S.A." and "LTDA." end a company name, not a sentence.
    return not re.search(r"(?:s\.a|ltda|s/a|me|epp|eireli)$", fold(flat[max(0, dot - 6) : dot]))


def clause_start(flat: str, pos: int, floor: int) -> int:
    """Where the clause that names the company whose CNPJ is at ``pos`` begins."""
    start = floor
    window_from = max(floor, pos - 700)
    segment = flat[window_from:pos]
    for regex in (_SIDE_RE, _ROLE_END_RE, ROLE_LABEL_RE):
        for m in regex.finditer(segment):
            start = max(start, window_from + m.end() if regex is not ROLE_LABEL_RE else window_from + m.end())
    for m in re.finditer(r"[;\n]|\.\s+(?=[\"“]?[" + UPPER + r"0-9])", segment):
        at = window_from + m.start()
        if m.group(0) in ";\n" or _is_sentence_end(flat, at):
            start = max(start, window_from + m.end())
    return start


def _strip_role_label(text: str) -> str:
    m = re.match(rf"^\s*(?:{ROLE_WORDS})\s*(?::|–|—|-)?\s+", text)
    return text[m.end() :] if m else text


def company_name(clause: str) -> Optional[str]:
    """The company name at the head of a party clause."""
    clause = clause.strip(" ,;:")
    label = None
    for m in _LABEL_NAME.finditer(clause):
        label = m
    if label:
        name = re.split(r"\s+(?:CNPJ|inscrit|com\s+sede|endereço|sediad)", label.group(1), maxsplit=1, flags=re.I)[0]
        return clean_value(name)
    clause = _strip_role_label(clause)
    m = _INTERMEDIARY.search(clause)
    if m:
        clause = m.group(1)
    clause = _LEADING_FILLERS.sub("", clause, count=1)
    stop = _NAME_STOP.search(clause)
    name = clause[: stop.start()] if stop else clause
    name = re.sub(r"[\s,(–—-]*(?:inscrit[oa](?:\(a\))?\s+no\s+)?\(?CNPJ(?:/MF)?\s*(?:sob\s+o\s+)?(?:n[º°o.]*)?\s*:?\s*$", "", name, flags=re.I)
    name = clean_value(name)
    if not name or len(name) > 160 or not re.search(rf"[{UPPER}]", name[:1] or ""):
        return name if name and len(name) <= 160 else None
    return name


def _role_near(flat: str, start: int, end: int, label_end: int) -> Optional[str]:
    m = ROLE_AFTER_RE.search(flat, start, end)
    if m:
        return normalize_role(m.group(1))
    m = ROLE_LABEL_RE.search(flat, max(0, start - 40), min(label_end, start + 40))
    if m:
        return normalize_role(m.group(1))
    return None


def _address(span_text: str) -> Optional[str]:
    head = re.split(r"(?:neste\s+ato|aqui|ora)?\s*representad", span_text, maxsplit=1, flags=re.I)[0]
    m = _ADDRESS_RE.search(head)
    if not m:
        return None
    address = m.group(1)
    cep = re.search(r"CEP\s*(?:n[º°.]*\s*)?:?\s*\d{2}\.?\d{3}\s?-?\s?\d{3}", head[m.end() : m.end() + 40], re.I)
    if cep and "cep" not in fold(address):
        address = f"{address}, {cep.group(0)}"
    return clean_value(address)


def _name_of(chunk: str) -> Optional[str]:
    """The person a chunk of a representation clause names: the whole chunk, or
    the name it opens with ("Sr. JOÃO DA SILVA nomeado pelo Decreto ...")."""
    name = strip_honorific(chunk)
    if is_person_name(name):
        return name
    name = leading_name(chunk)
    return name if is_person_name(name) else None


def representatives(span_text: str) -> list[Person]:
    """The people of "neste ato representada por ..." in a party clause."""
    people: list[Person] = []
    for m in _REPRESENTATION.finditer(span_text):
        segment = m.group(1)
        tail = span_text[m.end() : m.end() + 300]
        pending_cargo: Optional[str] = None
        # Each honorific opens another person: "Senhor JOSÉ SILVA Procuradores Senhor ANA LIMA" is two.
        chunks = re.split(r",|;|\s+e\s+(?=(?:(?:o|a)\s+)?(?:sr|sra|dr|dra)\.?\s|[" + UPPER + r"][" + LETTER + r"]+\s+[" + UPPER + r"])"
                          r"|\s+(?=(?i:senhora?|sra?\.|dra?\.)\s*[" + UPPER + r"])", segment)
        for raw in chunks:
            chunk = raw.strip()
            if not chunk:
                continue
            cpf = CPF_RE.search(chunk)
            if cpf and people:
                people[-1].cpf = people[-1].cpf or re.sub(r"\s+", "", cpf.group(1))
                continue
            possessive = _POSSESSIVE.match(chunk)
            if possessive:
                rest = possessive.group(1)
                # "seu Diretor Presidente Sr. JOSÉ DA SILVA" names both.
                split = re.split(r"\s+(?=(?:o\s+|a\s+)?(?:sr|sra|srta|dr|dra)\.)|(?<=\S)\s*(?=(?:sr|sra|dr|dra)\.)", rest, maxsplit=1, flags=re.I)
                pending_cargo = clean_value(re.sub(r"(?i)\b(?:legal|estatutári[oa])$", lambda x: x.group(0), split[0]))
                if len(split) > 1:
                    name = _name_of(split[1])
                    if name:
                        people.append(Person(clean_value(name), pending_cargo))
                        pending_cargo = None
                continue
            name = _name_of(re.sub(r"^(?:e|o|a)\s+", "", chunk, flags=re.I))
            if name:
                people.append(Person(clean_value(name), pending_cargo))
                pending_cargo = None
            elif people and people[-1].cargo is None and starts_with_cargo(chunk) and len(chunk) < 70:
                people[-1].cargo = clean_value(chunk)
            elif starts_with_cargo(chunk) and not people:
                pending_cargo = clean_value(chunk)
        if people and not people[-1].cpf:
            cpf = CPF_RE.search(tail)
            if cpf and not is_person_name(tail[: cpf.start()].split(",")[0].strip()):
                people[-1].cpf = re.sub(r"\s+", "", cpf.group(1))
    return people


_QUALIFICATION = re.compile(
    r"inscrit|com\s+sede|sediad|neste\s+ato|doravante|pessoa\s+jur[ií]dica|representad|estabelecid|denominad",
    re.I,
)


def _qualification_score(flat: str, pos: int) -> int:
    return len(_QUALIFICATION.findall(flat, max(0, pos - 250), pos + 350))


def extract_parties(flat: str, validar, limpar) -> list[Party]:
    """Every company named by a valid CNPJ, with what its qualification clause
    says of it.  A CNPJ mentioned several times (a summary page, the
    qualification, the signature block) is read where it is qualified."""
    occurrences = find_cnpjs(flat, validar, limpar)
    best: dict[str, tuple[int, int, str]] = {}
    for pos, written, clean in occurrences:
        score = _qualification_score(flat, pos)
        if clean not in best or score > best[clean][0]:
            best[clean] = (score, pos, written)
    parties = [Party(cnpj=w, cnpj_limpo=c, position=p) for c, (_, p, w) in best.items()]
    parties.sort(key=lambda p: p.position)
    starts = []
    floor = 0
    for party in parties:
        start = clause_start(flat, party.position, floor)
        starts.append(start)
        floor = party.position
    for i, party in enumerate(parties):
        start = starts[i]
        limit = starts[i + 1] if i + 1 < len(parties) and starts[i + 1] > party.position else party.position + 900
        end_m = re.search(r"(?i)cl[aá]usula\s|resolvem|t[eê]m\s+entre\s+si|celebram|ajustam\s+entre|firmam\s+o\s+presente",
                          flat[party.position : limit])
        end = party.position + end_m.start() if end_m else limit
        end = min(end, len(flat))
        party.span = (start, end)
        party.razao_social = company_name(flat[start : party.position])
        if not party.razao_social and start > 0 and flat[start - 1] == "\n":
            # "Razão social" on the line above a bare "CNPJ nº ..." line.
            previous = flat[: start - 1].rsplit("\n", 1)[-1]
            if 3 <= len(previous) <= 160:
                party.razao_social = company_name(previous + ",  CNPJ")
        span_text = flat[start:end]
        party.papel = _role_near(flat, start, end, party.position)
        party.endereco = _address(span_text)
        fantasia = re.search(r"nome\s+fantasia\s*:?\s*[\"“]?([^,;\"”)]+)", span_text, re.I)
        if fantasia:
            party.nome_fantasia = clean_value(fantasia.group(1))
        party.representantes = representatives(flat[party.position : end]) or representatives(span_text)
    return parties
