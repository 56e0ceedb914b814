"""CNPJ of a company found by an AI model searching the web.

The last strategy of ``cnpj.buscar_empresa_completo``: a model of the OpenAI
Responses API, with its web-search tool, is asked for the CNPJ of a company
named in a contract; the first CNPJ of its answer whose check digits are right
is returned. Needs the ``openai`` package (``pip install quillon[openai]``); without
it the call raises ImportError, which the combined search takes as "strategy
not available". The client reads ``OPENAI_BASE_URL`` as usual, for a proxy or
a compatible server.
"""

from __future__ import annotations

import re
from typing import Optional

from quillon.contract.countries.br import cnpj as _cnpj

#: Model asked; it must support the web-search tool.
AI_SEARCH_MODEL = "gpt-4.1-mini"
#: Seconds the whole request may take (a web search is slow).
AI_SEARCH_TIMEOUT = 60.0

PROMPT = (
    "Pesquise na web o CNPJ da empresa brasileira \"{nome}\". "
    "Responda somente com o CNPJ da matriz no formato XX.XXX.XXX/XXXX-XX, "
    "ou com NAO_ENCONTRADO se não encontrar um CNPJ com segurança."
)

# A CNPJ as written in a text: masked or not, numeric or alphanumeric (the
# base may hold letters since July 2026; the check digits are numeric).
_CANDIDATE = re.compile(
    r"(?<![0-9A-Za-z])[0-9A-Za-z]{2}\.?[0-9A-Za-z]{3}\.?[0-9A-Za-z]{3}/?[0-9A-Za-z]{4}-?[0-9]{2}(?![0-9A-Za-z])"
)


def extrair_cnpj(texto: Optional[str]) -> Optional[str]:
    """The first valid CNPJ written in ``texto``, formatted, or None."""
    for match in _CANDIDATE.finditer(texto or ""):
        candidato = match.group(0)
        if _cnpj.validar_cnpj(candidato):
            return _cnpj.formatar_cnpj(candidato)
    return None


def buscar_cnpj_via_ai(nome: str, openai_api_key: str) -> Optional[str]:
    """Busca o CNPJ de uma empresa pelo nome, com pesquisa na web feita por um modelo da OpenAI.

    Retorna o CNPJ formatado, ou None quando o modelo não encontra um CNPJ
    válido. Levanta ImportError sem o pacote ``openai``; erros da API (chave
    inválida, limite de uso, rede) chegam ao chamador.
    """
    from openai import OpenAI  # ImportError without the optional dependency

    if not nome or not openai_api_key:
        return None
    client = OpenAI(api_key=openai_api_key, timeout=AI_SEARCH_TIMEOUT)
    response = client.responses.create(
        model=AI_SEARCH_MODEL,
        tools=[{"type": "web_search", "user_location": {"type": "approximate", "country": "BR"}}],
        input=PROMPT.format(nome=nome),
    )
    return extrair_cnpj(response.output_text)
