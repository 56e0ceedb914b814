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
    # plurals: "Senhor X Procuradores Senhor Y" is two people and a role, not a name
    "diretores", "diretoras", "socios", "socias", "administradores", "procuradores", "procuradoras",
    "gerentes", "representantes", "coordenadores", "secretarios", "prefeitos", "testemunhas", "fiscais", "gestores",
    "emissor", "emissora", "signatarios",
}

# Capitalised words that appear in clauses but never in a person's name.
NOT_NAME_WORDS = {
    "estado", "rua", "avenida", "av", "alameda", "travessa", "rodovia", "praca", "resolucao", "lei",
    "decreto", "portaria", "cpf", "rg", "cnpj", "cnpj/mf", "municipio", "cidade", "secretaria", "prefeitura",
    "ltda", "ltda.", "s/a", "s.a.", "sa", "contrato", "clausula", "contratante", "contratada", "contratado",
    "brasil", "sao", "janeiro", "rio", "governo", "fundacao", "associacao", "companhia", "empresa",
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
    # units of an organisation, signed for but never a person
    "coordenadoria", "gerencia", "diretoria", "superintendencia", "assessoria", "procuradoria", "controladoria",
    "ouvidoria", "presidencia", "reitoria", "gabinete", "contratos", "comerciais", "administrativa",
    "administrativo", "juridica", "juridico", "financeira", "financeiro", "operacoes", "vendas", "compras",
    # words of clause headings ("FORMA E CRITÉRIOS DE PAGAMENTO", "DAS OBRIGAÇÕES DAS PARTES")
    "forma", "criterios", "criterio", "pagamento", "reajuste", "obrigacoes", "penalidades", "sancoes",
    "rescisao", "garantia", "dotacao", "orcamentaria", "fiscalizacao", "gestao", "execucao", "recebimento",
    "alteracoes", "disposicoes", "gerais", "finais", "publicacao", "foro", "condicoes", "prazo", "prazos",
    "preco", "precos", "fundamentacao", "legislacao", "aplicavel", "casos", "omissos", "subcontratacao",
    "riscos", "entrega", "especificacoes", "tecnicas", "responsabilidades", "partes", "direitos", "extincao",
    "infracoes", "protecao", "dados", "pessoais", "confidencialidade", "propriedade", "intelectual",
    "reequilibrio", "medicao", "modelo", "clausulas", "vigencia", "objeto", "fundamento", "legal", "anexos",
}

_NAME_WORD = re.compile(rf"^(?:[{UPPER}][{LETTER}'’]*(?:-[{LETTER}'’]+)*|d['’][{UPPER}][{LETTER}]*)$")
_HONORIFIC = re.compile(
    r"^(?:(?:o|a)\s+)?(?:(?:srta|sra|sr|dra|dr|profa|prof|eng)\.?\s*|(?:senhora|senhor|doutora|doutor)(?:\(a\))?\s+)"
    r"(?-i:(?=[A-ZÀ-Ý]))",
    re.IGNORECASE,
)
# Words that say "a person's title", not part of a name: "Senhor", "Doutora".
_HONORIFIC_WORDS = {"sr", "sra", "srta", "dr", "dra", "senhor", "senhora", "doutor", "doutora"}


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
        if folded in NOT_NAME_WORDS or folded in CARGO_WORDS or folded in _HONORIFIC_WORDS:
            return False
        real += len(folded) > 1  # an initial ("P.") is part of a name, not a name
    if real < 2:
        return False
    # A name neither begins nor ends with a connector ("FORMA E CRITÉRIOS DE").
    return words[0].lower() not in CONNECTORS and fold(words[-1]).strip(".,;:") not in CONNECTORS


def leading_name(text: str) -> str:
    """The words a text opens with while they can be a name's: "Sr. MARCEL DO
    NASCIMENTO BOTELHO nomeado por Decreto" -> "MARCEL DO NASCIMENTO BOTELHO"."""
    words = strip_honorific(text).split()
    kept: list[str] = []
    for word in words:
        bare = word.rstrip(".,;:")
        if fold(bare) in CONNECTORS or (_NAME_WORD.match(bare) and fold(bare) not in NOT_NAME_WORDS
                                        and fold(bare) not in CARGO_WORDS):
            kept.append(bare)
            if bare != word:  # punctuation ends the name
                break
        else:
            break
    while kept and fold(kept[-1]) in CONNECTORS:
        kept.pop()
    return " ".join(kept)


def starts_with_cargo(text: str) -> bool:
    words = fold(text).replace("(a)", "").split()
    return bool(words) and words[0].strip(".,;:") in CARGO_WORDS


def person_name_key(name: str) -> str:
    """A person's name as its spellings in one contract share it: folded, punctuation
    gone, connectors (da, de, dos...) dropped.  Not the registry's ``name_key``,
    which keys company names for search."""
    return " ".join(w for w in re.sub(r"[^\w\s]", " ", fold(name)).split() if w not in CONNECTORS)


def same_signatory(a: str, b: str) -> bool:
    """Whether two names found in one contract are the same signatory's.

    Stricter than the checker's name rule (``quillon::names::match``, the
    checker's ``_comparar_nomes``), on purpose: that rule tells whether a
    signatory may be a registry partner, and lets any two long words in common
    suffice, so it would make one person of two signatories of one family
    ("JOÃO DA SILVA SANTOS", "PEDRO DA SILVA SANTOS").  Here two names are one
    signatory's when one is the other (or part of it) once connectors and
    punctuation are gone, or when they share the first name and one more word.
    """
    ka, kb = person_name_key(a), person_name_key(b)
    if not ka or not kb:
        return False
    if ka == kb or ka in kb or kb in ka:
        return True
    wa, wb = set(ka.split()), set(kb.split())
    # First and last names both shared: "Maria Silva" and "Maria da Silva Santos".
    return len(wa & wb) >= 2 and ka.split()[0] == kb.split()[0]
