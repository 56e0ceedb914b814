"""Host configuration read by the compiled modules.

Values come from the environment at the moment they are asked for, so a
process that sets a variable later (a test, a notebook) is seen.
"""

from __future__ import annotations

import os

AZURE_ENDPOINT_ENV = "AZURE_AI_VISION_ENDPOINT"
AZURE_KEY_ENV = "AZURE_AI_VISION_KEY"

VISION_FALLBACK_PROMPT = (
    "Você é um transcritor de documentos. Transcreva fielmente todo o texto visível "
    "na página, na ordem natural de leitura, preservando números, datas, valores, "
    "CNPJs, nomes e a pontuação exatamente como aparecem. Mantenha as quebras de "
    "parágrafo e reproduza tabelas linha a linha. Não resuma, não traduza, não "
    "corrija e não acrescente comentários; se um trecho estiver ilegível, escreva "
    "[ilegível] no lugar dele. Responda apenas com o texto transcrito."
)


def get_azure_config() -> tuple[str, str]:
    """(endpoint, key) of the Azure AI Vision resource; empty texts when unset.

    An empty key means that OCR is not configured.
    """
    return os.environ.get(AZURE_ENDPOINT_ENV, ""), os.environ.get(AZURE_KEY_ENV, "")
