"""Credentials kept out of error texts and log lines.

A service that rejects a request often quotes what it was sent, and the
clients put the server's answer into their exception text (the openai client
shows the error body as a Python dict, ``requests`` quotes a header value it
refuses).  Every error text that may carry a credential goes through
``scrub`` before it is logged, printed or stored.
"""

from __future__ import annotations

import json
import os
from typing import Iterable, Optional

__all__ = ["scrub", "scrub_environment", "CREDENTIAL_VARIABLES", "MASK"]

#: What a credential is replaced with.
MASK = "***"

#: Environment variables that hold credentials of the services quillon calls.
CREDENTIAL_VARIABLES = ("OPENAI_API_KEY", "AZURE_API_KEY", "AZURE_AI_VISION_KEY", "CNPJA_API_KEY")


def _forms(secret: str) -> set[str]:
    """The ways a credential shows up in an error text: as sent, escaped as
    ``repr()`` writes it (a dict or a header value quoted by a client), escaped
    as JSON writes it (an answer body quoted as received), and without the
    white space around it (what a server trims before echoing)."""
    forms = {secret, repr(secret)[1:-1], json.dumps(secret)[1:-1], json.dumps(secret, ensure_ascii=False)[1:-1],
             secret.strip()}
    return {f for f in forms if f}


def scrub(text: str, *secrets: Optional[str]) -> str:
    """``text`` with every trace of each secret replaced by ``***``.

    Secrets that are None, empty or not text are ignored.  Longer forms go
    first, so that a form contained in another (the key without its
    surrounding white space) cannot leave part of the longer one behind.
    """
    forms: set[str] = set()
    for secret in secrets:
        if isinstance(secret, str) and secret:
            forms |= _forms(secret)
    for form in sorted(forms, key=len, reverse=True):
        text = text.replace(form, MASK)
    return text


#: Environment values shorter than this are placeholders, not credentials:
#: replacing every "k" of an error text would only garble it.
MIN_ENVIRONMENT_SECRET = 8


def scrub_environment(text: str, names: Iterable[str] = CREDENTIAL_VARIABLES) -> str:
    """``text`` scrubbed of the credentials the environment holds now (values
    of at least ``MIN_ENVIRONMENT_SECRET`` characters)."""
    values = (os.environ.get(name) or "" for name in names)
    return scrub(text, *(v for v in values if len(v.strip()) >= MIN_ENVIRONMENT_SECRET))
