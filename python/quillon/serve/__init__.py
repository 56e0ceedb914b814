"""``quillon serve``: the verification of contracts as a web page and an HTTP API.

Needs the "serve" extra (FastAPI, uvicorn, python-multipart).  Modules:
``config`` (settings and the refusal of an open address without a token),
``jobs`` (the verifications kept in the registry database), ``executor``
(the forked workers of ``quillon verificar``, kept alive), ``uploads``
(what is accepted), ``service`` (the three together), ``guard`` (token and
body size), ``pages`` (HTML), ``app`` (routes), ``main`` (running it).
"""
