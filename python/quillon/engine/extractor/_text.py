"""Text helpers of the rule-based extractor: folding, spacing, names and cargos."""

from __future__ import annotations

import re
import unicodedata
from functools import lru_cache

# Letters of Portuguese names, upper and lower case, with their accents.
UPPER = "A-ZÀÁÂÃÄÇÈÉÊËÌÍÎÏÑÒÓÔÕÖÙÚÛÜÝ"
LOWER = "a-zàáâãäçèéêëìíîïñòóôõöùúûüýÿ"
LETTER = UPPER + LOWER


@lru_cache(maxsize=4096)
def fold(text: str) -> str:
    """Lower case without accents: the form every comparison is made in."""
    decomposed = unicodedata.normalize("NFD", text)
    return "".join(c for c in decomposed if unicodedata.category(c) != "Mn").lower()


_SPACES = re.compile(r"[ \t\u00a0\u2000-\u200b\u202f\u205f\u3000]+")
_SOFT_BREAK = re.compile(r"[ \t]*\n[ \t]*")


def squeeze(text: str) -> str:
    """Runs of white space as one space, trimmed."""
    return " ".join(text.split())


def flatten(text: str) -> str:
    """One line: line breaks become spaces, a hyphen that split a word at the
    end of a line is dropped ("contra-\\ntada" reads "contratada")."""
    text = re.sub(rf"([{LOWER}])-\n([{LOWER}])", r"\1\2", text)
    text = _SOFT_BREAK.sub(" ", text)
    return _SPACES.sub(" ", text)


def lines_of(text: str) -> list[str]:
    return [_SPACES.sub(" ", line).strip() for line in text.splitlines()]


def clean_value(text: str | None) -> str | None:
    """A value as the answer gives it: single spaces, no stray punctuation at the ends."""
    if text is None:
        return None
    text = squeeze(text).strip(" ,;:-–—\"“”'")
    if text.endswith(".") and not re.search(r"\b(?:ltda|s\.?a|me|epp|eireli|s/a|cia|inc|llc)\.$", fold(text)):
        text = text[:-1].rstrip()
    return text or None


# --- people ------------------------------------------------------------------

CONNECTORS = {"da", "de", "do", "das", "dos", "e", "d", "di", "du", "del", "van", "von"}

# Words that begin a cargo (position) rather than a name.
CARGO_WORDS = {
    "diretor", "diretora", "presidente", "vice-presidente", "socio", "socia", "administrador",
    "administradora", "procurador", "procuradora", "gerente", "coordenador", "coordenadora",
    "secretario", "secretaria", "prefeito", "prefeita", "superintendente", "representante",
    "tesoureiro", "tesoureira", "assessor", "assessora", "executivo", "executiva", "ceo", "cfo",
    "coo", "cto", "conselheiro", "conselheira", "chefe", "subsecretario", "subsecretaria",
    "governador", "governadora", "ministro", "ministra", "reitor", "reitora", "vice", "diretor-presidente",
    "diretora-presidente", "diretor-geral", "diretora-geral", "socio-administrador", "socia-administradora",
    "titular", "empresario", "empresaria", "inventariante", "liquidante", "mandatario", "mandataria",
    "ordenador", "ordenadora", "fiscal", "gestor", "gestora", "analista", "supervisor", "supervisora",
}

# Capitalised words that appear in clauses but never in a person's name.
NOT_NAME_WORDS = {
    "estado", "rua", "avenida", "av", "alameda", "travessa", "rodovia", "praca", "resolucao", "lei",
    "decreto", "portaria", "cpf", "rg", "cnpj", "cnpj/mf", "municipio", "cidade", "secretaria", "prefeitura",
    "ltda", "ltda.", "s/a", "s.a.", "sa", "contrato", "clausula", "contratante", "contratada", "contratado",
    "brasil", "sao", "paulo", "janeiro", "rio", "governo", "fundacao", "associacao", "companhia", "empresa",
    "sociedade", "instituto", "banco", "ministerio", "tribunal", "camara", "conselho", "comarca", "cep",
    "bairro", "sala", "andar", "conjunto", "bloco", "edificio", "processo", "edital", "anexo", "termo",
    "inscricao", "nacional", "federal", "municipal", "estadual", "diario", "oficial", "doe", "dou",
    "documento", "testemunha", "testemunhas", "nome", "cargo", "data", "local", "assinatura", "sp", "rj",
    "mg", "pa", "rs", "pr", "sc", "ba", "pe", "ce", "go", "df", "am", "es", "ms", "mt", "informatica",
    "tecnologia", "comercio", "servicos", "industria", "participacoes", "internet", "knowledge", "open",
    "interveniente", "fiadora", "fiador", "signatario", "representada", "representado", "cartorio",
    "registro", "junta", "comercial", "ordem", "pregao", "dispensa", "licitacao", "google", "llc", "inc",
    "matriz", "filial", "sede", "brasileiro", "brasileira", "proposta", "objeto", "valor", "vigencia",
    # function words: a person's name has none of them
    "que", "o", "a", "os", "as", "para", "pela", "pelo", "pelas", "pelos", "com", "em", "no", "na", "nos",
    "nas", "ou", "ao", "aos", "se", "por", "sem", "sob", "sobre", "entre", "este", "esta", "ate",
    "eireli", "epp", "engenharia", "consultoria", "construtora", "comercial", "holding", "grupo",
    "responsaveis", "responsavel", "autoridade", "orgao", "divisao", "departamento", "setor", "oab",
}

_NAME_WORD = re.compile(rf"^(?:[{UPPER}][{LETTER}'’]*(?:-[{LETTER}'’]+)*|d['’][{UPPER}][{LETTER}]*)$")
_HONORIFIC = re.compile(r"^(?:(?:o|a)\s+)?(?:sr|sra|srta|dr|dra|prof|profa|eng)\.?\s*(?=[A-ZÀ-Ý])", re.IGNORECASE)


def strip_honorific(text: str) -> str:
    return _HONORIFIC.sub("", text.strip()).strip()


def is_person_name(text: str) -> bool:
    """Whether ``text`` reads like a person's full name: two to nine words,
    each capitalised or a connector (da, de, dos...), at least two real
    words, none of them a cargo, place or document word."""
    words = text.split()
    if not 2 <= len(words) <= 9:
        return False
    real = 0
    for word in words:
        folded = fold(word).strip(".,;:")
        if folded in CONNECTORS:
            continue
        if not _NAME_WORD.match(word.rstrip(".").strip(",;:")):
            return False
        if folded in NOT_NAME_WORDS or folded in CARGO_WORDS:
            return False
        real += 1
    if real < 2:
        return False
    return not words[0].lower() in CONNECTORS


def starts_with_cargo(text: str) -> bool:
    words = fold(text).replace("(a)", "").split()
    return bool(words) and words[0].strip(".,;:") in CARGO_WORDS


def name_key(name: str) -> str:
    """The key two spellings of one person's name share."""
    return " ".join(w for w in re.sub(r"[^\w\s]", " ", fold(name)).split() if w not in CONNECTORS)


def same_person(a: str, b: str) -> bool:
    ka, kb = name_key(a), name_key(b)
    if not ka or not kb:
        return False
    if ka == kb or ka in kb or kb in ka:
        return True
    wa, wb = set(ka.split()), set(kb.split())
    # First and last names both shared: "Maria Silva" and "Maria da Silva Santos".
    return len(wa & wb) >= 2 and ka.split()[0] == kb.split()[0]


def titlecase_if_shouting(text: str) -> str:
    return text
