"""Hypothesis strategies for Unicode text that exercises the text rules: table
words in every case and accent form, white space of all kinds, punctuation,
ordinal signs, final sigma, letters that change length when lower-cased,
other scripts, combining marks, and arbitrary assigned code points.

Unassigned code points (Cn in this Python's Unicode database) and surrogates
are left out: the core's Unicode data may be newer than the interpreter's."""

from __future__ import annotations

import unicodedata

from hypothesis import strategies as st

from text_oracles import KEYWORDS_EXCLUSAO, KEYWORDS_VALIDACAO

ANY_CHAR = st.characters(blacklist_categories=("Cs", "Cn"))
# Mostly the Latin-1 range, where Portuguese text lives.
LATIN1_CHAR = st.characters(max_codepoint=0xFF, blacklist_categories=("Cs", "Cn"))

SPECIAL = [
    " ", "  ", "\t", "\n", "\r\n", "\x0b", "\x0c", "\x1c", "\x85", "\xa0", "\u2028", "\u2029", "\u3000",
    "\u200b", "\ufeff", ".", ",", ";", ":", "-", "/", "\\", "_", "º", "ª", "°", "nº", "n°", "no", "n", "N",
    "Nº", "NO", "\u0301", "\u0327", "\u0303", "\u0308", "\u0345", "\u0903", "Σ", "ΟΔΟΣ", "Σ'", "ς", "İ", "ẞ",
    "ß", "ﬁ", "Ǆ", "ǅ", "K", "Å", "жrua", "ж", "рua", "日本", "٣", "१", "½", "Ⅻ", "😀", "\x00",
]
ADDRESS_WORDS = [
    "rua", "Rua", "RUA", "r", "avenida", "Avenida", "av", "avd", "avda", "AVDA", "travessa", "praca",
    "praça", "pracas", "PRAÇAS", "edificio", "edifício", "predio", "prédio", "conjunto", "conj", "sala",
    "andar", "bairro", "Bairro", "cep", "CEP", "nova", "Nova", "numero", "número", "paulista", "flores",
    "esperança", "100", "1000", "01310-100", "sp", "SP",
]


def _forms(word: str) -> list[str]:
    decomposed = unicodedata.normalize("NFD", word)
    return [word, word.upper(), word.title(), decomposed, decomposed.upper()]


KEYWORD_FORMS = sorted({f for w in KEYWORDS_VALIDACAO + KEYWORDS_EXCLUSAO for f in _forms(w)})
ADDRESS_FORMS = sorted({f for w in ADDRESS_WORDS for f in _forms(w)})


def pieces(*word_lists: list[str], char=ANY_CHAR) -> st.SearchStrategy[str]:
    return st.one_of(
        st.sampled_from(SPECIAL),
        *[st.sampled_from(ws) for ws in word_lists],
        st.text(char, min_size=1, max_size=4),
        st.text(ANY_CHAR, min_size=1, max_size=3),
    )


def texts(*word_lists: list[str], char=ANY_CHAR, max_pieces: int = 40) -> st.SearchStrategy[str]:
    return st.lists(pieces(*word_lists, char=char), max_size=max_pieces).map("".join)


keyword_texts = texts(KEYWORD_FORMS)
latin1_keyword_texts = texts(KEYWORD_FORMS, char=LATIN1_CHAR)
address_texts = texts(ADDRESS_FORMS, max_pieces=16)
any_texts = st.text(ANY_CHAR, max_size=60)
