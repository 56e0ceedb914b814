"""Plain-Python formulations of the text rules, written the obvious way with
unicodedata and re: the oracles the compiled functions are checked against
(tests, property tests and fuzz targets)."""

from __future__ import annotations

import re
import unicodedata

KEYWORDS_VALIDACAO = [
    "contrato", "acordo", "termo", "instrumento", "aditivo", "distrato", "contratante", "contratada",
    "contratado", "prestador", "prestadora", "tomador", "tomadora", "cláusula", "clausula", "objeto",
    "vigência", "vigencia", "valor", "pagamento", "obrigações", "obrigacoes", "rescisão", "rescisao",
    "foro", "cnpj", "inscrita", "inscrito", "neste ato representada", "neste ato representado",
    "doravante denominada", "doravante denominado", "assinatura", "assinado", "firmado", "testemunha",
    "certificado digital", "icp-brasil",
]
KEYWORDS_EXCLUSAO = [
    "edital de licitação", "pregão eletrônico", "tomada de preços", "concorrência pública",
    "carta convite", "nota fiscal", "recibo", "boleto", "fatura",
]
MIN_KEYWORDS = 3


def fold(texto: str) -> str:
    if not texto:
        return ""
    nfd = unicodedata.normalize("NFD", texto)
    return "".join(c for c in nfd if unicodedata.category(c) != "Mn").lower()


def validar(texto, validacao=KEYWORDS_VALIDACAO, exclusao=KEYWORDS_EXCLUSAO, minimo=MIN_KEYWORDS):
    if not texto:
        return False, 0, []
    texto_norm = fold(texto)
    for termo in exclusao:
        if fold(termo) in texto_norm:
            return False, 0, [f"EXCLUSÃO: {termo}"]
    encontradas = [kw for kw in validacao if fold(kw) in texto_norm]
    return len(encontradas) >= minimo, len(encontradas), encontradas


ADDRESS_RULES = [
    (r"\s+", " "),
    (r"[.,;:\-/\\]", " "),
    (r"\bn[ºo]?\s*", ""),
    (r"\brua\b", "r"),
    (r"\bavenida\b", "av"),
    (r"\bavda?\b", "av"),
    (r"\btravessa\b", "tv"),
    (r"\bpracas?\b", "pc"),
    (r"\bedificio\b", "ed"),
    (r"\bpredio\b", "ed"),
    (r"\bconjunto\b", "cj"),
    (r"\bconj\b", "cj"),
    (r"\bsala\b", "sl"),
    (r"\bandar\b", "and"),
    (r"\bbairro\b", ""),
    (r"\bcep\b", ""),
]
_COMPILED_RULES = [(re.compile(p), r) for p, r in ADDRESS_RULES]
ADDRESS_KEYS = ("logradouro", "numero", "complemento", "bairro", "cidade", "uf", "cep")


def normalizar_endereco(endereco: str) -> str:
    if not endereco:
        return ""
    s = fold(endereco).strip()
    for pattern, replacement in _COMPILED_RULES:
        s = pattern.sub(replacement, s)
    return s.strip()


def comparar_enderecos(endereco_contrato, dados_receita, threshold=0.85, normalizar=None):
    if not endereco_contrato or not dados_receita:
        return False, 0.0, ""
    end = dados_receita.get("endereco", {})
    endereco_receita = " ".join(end.get(k) for k in ADDRESS_KEYS if end.get(k))
    if not endereco_receita:
        return False, 0.0, ""
    normalizar = normalizar or normalizar_endereco
    a, b = normalizar(endereco_contrato), normalizar(endereco_receita)
    if not a or not b:
        return False, 0.0, endereco_receita
    if a == b:
        return True, 1.0, endereco_receita
    if a in b or b in a:
        return True, 0.9, endereco_receita
    pa = {p for p in a.split() if len(p) >= 3}
    pb = {p for p in b.split() if len(p) >= 3}
    if not pa or not pb:
        return False, 0.0, endereco_receita
    similaridade = len(pa & pb) / len(pa | pb)
    return similaridade >= threshold, similaridade, endereco_receita


# --- the whole-document screen (triar_documento) ----------------------------------
_INVISIBLE = {"\u00ad", "\u200b", "\u200c", "\u200d", "\u2060", "\ufeff"}


def _letter_like(c: str) -> bool:
    return (c.isalnum() or c == "_") and c not in "0123456789_"


def _fold_spaced(texto: str) -> str:
    """The fold, invisible characters dropped, white space runs one blank, trimmed."""
    return " ".join("".join(c for c in fold(texto) if c not in _INVISIBLE).split())


def _lines(heading: str, limit: int) -> list[str]:
    return [s for s in (line.strip() for line in re.split(r"[\n\r]", heading)) if s][:limit]


def _shape(line: str) -> tuple[int, bool]:
    letters = [c for c in line if _letter_like(c)]
    upper = sum(1 for c in letters if fold(c) != c)
    return len(line.split()), bool(letters) and upper * 10 >= len(letters) * 6


def _title_fold(line: str) -> str:
    i = 0
    while i < len(line) and not _letter_like(line[i]):
        i += 1
    lf = _fold_spaced(line[i:])
    if lf.startswith(("sei/", "sei ")) and " - " in lf:
        rest = lf[lf.rindex(" - ") + 3 :]
        j = 0
        while j < len(rest) and not _letter_like(rest[j]):
            j += 1
        lf = rest[j:]
    return lf


def _starts(lf: str, starts: list[str]):
    for i, s in enumerate(starts):
        f = _fold_spaced(s)
        if f and lf.startswith(f) and (len(lf) == len(f) or not _letter_like(lf[len(f)])):
            return i
    return None


def triar(pages, validacao, exclusao, titulos, outros, partes, qualificacao, minimo, cabecalho,
          linhas=25, abertura=2) -> dict:
    """The screen written the obvious way: (eh_contrato, motivo, keywords, exclusao, titulo)."""
    folds = [f for f in (_fold_spaced(p) for p in pages) if f]
    if not folds:
        return {"eh_contrato": False, "motivo": "vazio", "keywords": [], "exclusao": None, "titulo": None}
    first = next(p for p in pages if _fold_spaced(p))
    whole, opening = " ".join(folds), " ".join(folds[:abertura])
    found = [t for t in validacao if _fold_spaced(t) in whole]
    enough = len(found) >= minimo
    heading = first[:cabecalho]
    heading_fold = _fold_spaced(heading)
    excluded = next((t for t in exclusao if _fold_spaced(t) in heading_fold), None)
    kind, title, other = None, None, None
    for line in _lines(heading, linhas):
        words, capitals = _shape(line)
        lf = _title_fold(line)
        naming_parties = _starts(lf, titulos) is not None and (" entre si " in lf or " celebram " in lf)
        if not naming_parties and not capitals and words > 10:
            break
        if not naming_parties and not ((len(line) <= 100 and words <= 8) or (capitals and len(line) <= 200)):
            continue
        if _starts(lf, titulos) is not None:
            kind, title = "contrato", line
        elif (i := _starts(lf, outros)) is not None:
            kind, title, other = "outro", line, outros[i]
        else:
            continue
        break
    verdict = {"eh_contrato": False, "keywords": found, "titulo": title,
               "exclusao": other if other is not None else excluded}
    if kind == "contrato":
        verdict.update(eh_contrato=enough, motivo="titulo" if enough else "poucos_termos")
    elif kind == "outro" or excluded is not None:
        verdict["motivo"] = "exclusao"
    elif not enough:
        verdict["motivo"] = "poucos_termos"
    else:
        parties = any(_fold_spaced(a) and _fold_spaced(b) and _fold_spaced(a) in opening and _fold_spaced(b) in opening
                      for a, b in partes)
        qualified = any(_fold_spaced(q) and _fold_spaced(q) in whole for q in qualificacao)
        verdict.update(eh_contrato=parties and qualified, motivo="termos" if parties and qualified else "sem_partes")
    return verdict


# --- signatories weighed by name and CPF -------------------------------------------

def comparar_nomes(nome1: str, nome2: str) -> bool:
    """The documented tolerant rule: containment, or two words of three letters in common."""
    a, b = fold(nome1).strip(), fold(nome2).strip()
    if not a or not b:
        return False
    if a in b or b in a:
        return True
    return len({w for w in a.split() if len(w) >= 3} & {w for w in b.split() if len(w) >= 3}) >= 2


def tipo_de_coincidencia(nome1: str, nome2: str) -> str:
    """"nenhuma", "parcial" (a fragment: fewer than three long words in common, names not the
    same) or "completa" (equal, the same long words, or three long words in common)."""
    if not comparar_nomes(nome1, nome2):
        return "nenhuma"
    a, b = fold(nome1).strip(), fold(nome2).strip()
    wa, wb = {w for w in a.split() if len(w) >= 3}, {w for w in b.split() if len(w) >= 3}
    if a == b or len(wa & wb) >= 3 or (len(wa & wb) >= 2 and wa == wb):
        return "completa"
    return "parcial"


def cpf_digitos(texto: str) -> str:
    """The eleven digits of a valid CPF written with ASCII digits and . - / space, or ""."""
    if any(c not in "0123456789.-/ " for c in texto):
        return ""
    d = [int(c) for c in texto if c.isdigit()]
    if len(d) != 11 or len(set(d)) == 1:
        return ""
    for n in (9, 10):
        r = sum(d[i] * (n + 1 - i) for i in range(n)) % 11
        if d[n] != (0 if r < 2 else 11 - r):
            return ""
    return "".join(map(str, d))


def cpf_confere(cpf: str, publicado: object) -> str:
    """"confere", "difere" or "desconhecido": a CPF's digits against a published, masked one."""
    if len(cpf) != 11 or not isinstance(publicado, str):
        return "desconhecido"
    places = [c for c in publicado if c not in ".-/ "]
    if len(places) != 11 or any(c not in "0123456789*" for c in places):
        return "desconhecido"
    shown = [(i, c) for i, c in enumerate(places) if c != "*"]
    if not shown or all(c == "0" for _, c in shown):
        return "desconhecido"
    return "confere" if all(cpf[i] == c for i, c in shown) else "difere"


EVIDENCIAS = ("nome_ausente", "cpf_divergente", "nome_parcial", "nome", "cpf")  # weakest first


def evidencia(nome: str, cpf_texto, socios: list) -> str:
    """The strongest evidence over a partner list (partners and their representatives)."""
    cpf = cpf_digitos(cpf_texto) if isinstance(cpf_texto, str) else ""
    best = 0

    def weigh(outro, publicado):
        tipo = tipo_de_coincidencia(nome, outro) if isinstance(outro, str) else "nenhuma"
        if tipo == "nenhuma":
            return 0
        confere = cpf_confere(cpf, publicado)
        if confere == "difere":
            return 1
        if confere == "confere":
            return 4
        return 3 if tipo == "completa" else 2

    for s in socios:
        best = max(best, weigh(s.get("nome", ""), s.get("cnpj_cpf_do_socio", "")))
        if s.get("nome_representante"):
            best = max(best, weigh(s["nome_representante"], s.get("cpf_representante", "")))
    return EVIDENCIAS[best]


# --- the open-data files ------------------------------------------------------------------------
def name_key(nome: str) -> str:
    """The key a company name is searched by: folded, every run of non-word characters one space."""
    return " ".join(w for w in re.split(r"\W+", fold(nome)) if w)


MAX_LINE = 1 << 20
TEXT, DATE, CODE, KEY, CNPJ = range(5)


def split_fields(line: bytes):
    """The fields of one line (";"-separated, quoted fields with doubled quotes), or why it does not split."""
    fields, i, n = [], 0, len(line)
    while True:
        if line[i:i + 1] != b'"':
            end = line.find(b";", i)
            if end < 0:
                return fields + [line[i:]]
            fields.append(line[i:end])
            i = end + 1
            continue
        i += 1
        field = b""
        while True:
            q = line.find(b'"', i)
            if q < 0:
                return "aspas não fechadas"
            if line[q + 1:q + 2] == b'"':
                field, i = field + line[i:q + 1], q + 2
                continue
            field, i = field + line[i:q], q + 1
            break
        fields.append(field)
        if i == n:
            return fields
        if line[i:i + 1] != b";":
            return "texto depois de aspas de fechamento"
        i += 1


def _value(op: int, column: int, fields: list[bytes]):
    import datetime

    field = fields[column]
    if op == TEXT:
        return field.decode("latin-1")
    if op == DATE:
        try:
            return datetime.date(int(field[:4]), int(field[4:6]), int(field[6:])).isoformat() if (
                len(field) == 8 and field.isdigit()) else None
        except ValueError:
            return None
    if op == CODE:
        if not field:
            return None
        if len(field) > 18 or not field.isdigit():
            raise ValueError(f"campo {column + 1}: código não numérico")
        return int(field)
    if op == KEY:
        return name_key(field.decode("latin-1"))
    return b"".join(fields[column:column + 3]).decode("latin-1")


def read_lines(data: bytes, columns: int, plan, line: int = 0, offset: int = 0):
    """(rows, errors, line, offset) of a whole open-data file: the line reader's result."""
    rows, errors = [], []
    pieces = data.split(b"\n")
    for k, raw in enumerate(pieces):
        terminated = k < len(pieces) - 1
        if not terminated and not raw:
            break
        line, offset = line + 1, offset + len(raw) + terminated
        text = raw[:-1] if raw.endswith(b"\r") else raw
        if len(text) > MAX_LINE:
            errors.append((line, "linha longa demais (mais de 1 MiB)"))
            continue
        if not text:
            continue
        if b"\0" in text:
            errors.append((line, "byte nulo na linha"))
            continue
        fields = split_fields(text)
        if isinstance(fields, str):
            errors.append((line, fields))
            continue
        if len(fields) != columns:
            errors.append((line, f"esperados {columns} campos, encontrados {len(fields)}"))
            continue
        try:
            rows.append(tuple(_value(op, column, fields) for op, column in plan))
        except ValueError as e:
            errors.append((line, str(e)))
    return rows, errors, line, offset
