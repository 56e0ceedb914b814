"""The web application: the pages and the HTTP API over one ``Service``."""

from __future__ import annotations

import contextlib
import importlib.resources
import json
import pathlib
import re
from typing import Any, Literal, Optional

from fastapi import FastAPI, File, HTTPException, Request, UploadFile
from fastapi.responses import HTMLResponse, JSONResponse, Response
from pydantic import BaseModel
from starlette.exceptions import HTTPException as AnyHTTPException

from quillon import batch, screening
from quillon.company_lookup import INVALID, NOT_FOUND, LookupFailed, consult
from quillon.serve import pages, uploads
from quillon.serve.config import ServeConfig
from quillon.serve.guard import BodyLimit, TokenGuard
from quillon.serve.jobs import CONCLUIDO, ERRO, STATUSES, Job, new_id
from quillon.serve.service import Service, display_name

#: The only files the server sends: its own stylesheet and script, by name.
ASSETS = {"app.css": "text/css; charset=utf-8", "app.js": "text/javascript; charset=utf-8"}
_LOOKUP_STATUS = {INVALID: 400, NOT_FOUND: 404}


class Erro(BaseModel):
    detail: str


class Verificacao(BaseModel):
    """A verification: waiting ("na_fila"), running ("em_andamento", at ``etapa``), or finished."""

    id: str
    arquivo: str
    status: Literal[STATUSES]  # type: ignore[valid-type]
    etapa: Optional[Literal[batch.STEPS]] = None  # type: ignore[valid-type]
    criado_em: float
    concluido_em: Optional[float] = None
    resultado: Optional[dict[str, Any]] = None
    erro: Optional[str] = None


class Triagem(BaseModel):
    eh_contrato: bool
    motivo: str
    quantidade: int
    detalhe: str
    model_config = {"extra": "allow"}


_UPLOAD_ERRORS: dict[int | str, dict[str, Any]] = {
    400: {"model": Erro, "description": "arquivo vazio, PDF corrompido ou protegido por senha"},
    413: {"model": Erro, "description": "arquivo maior que QUILLON_SERVE_MAX_MB"},
    415: {"model": Erro, "description": "o conteúdo não é um PDF"},
}


def create_app(config: ServeConfig) -> Any:
    """The ASGI application: the FastAPI routes behind the token and body-size guards."""
    service = Service(config)

    @contextlib.asynccontextmanager
    async def lifespan(_app: FastAPI):
        service.start()
        try:
            yield
        finally:
            service.close()

    app = FastAPI(title="quillon", version="1", lifespan=lifespan,
                  description="Verificação de contratos: empresas no cadastro da Receita Federal, signatários no QSA.")
    app.state.service = service

    def job_or_404(job_id: str) -> Job:
        job = service.jobs.get(job_id)
        if job is None:
            raise HTTPException(404, "verificação não encontrada")
        return job

    def accept(arquivo: UploadFile) -> Job:
        try:
            return service.accept(arquivo.file, arquivo.filename)
        except uploads.Rejected as exc:
            raise HTTPException(exc.status, str(exc)) from None

    # --- API -------------------------------------------------------------------------
    @app.post("/api/verificacoes", status_code=202, response_model=Verificacao, responses=_UPLOAD_ERRORS,
              summary="Envia um contrato em PDF para verificação")
    def criar_verificacao(arquivo: UploadFile = File(..., description="o contrato, em PDF")) -> dict[str, Any]:
        return accept(arquivo).public()

    @app.get("/api/verificacoes/{job_id}", response_model=Verificacao, responses={404: {"model": Erro}},
             summary="Situação de uma verificação e, concluída, o seu registro")
    def ler_verificacao(job_id: str) -> dict[str, Any]:
        return job_or_404(job_id).public()

    @app.get("/api/cnpj/{cnpj:path}", responses={400: {"model": Erro}, 404: {"model": Erro}, 503: {"model": Erro}},
             summary="O registro de um CNPJ no cadastro (dados, endereço, sócios)")
    def consultar_cnpj(cnpj: str) -> dict[str, Any]:
        try:
            return consult(cnpj)
        except LookupFailed as exc:
            raise HTTPException(_LOOKUP_STATUS.get(exc.kind, 503), str(exc)) from None

    @app.post("/api/triagem", response_model=Triagem, responses=_UPLOAD_ERRORS,
              summary="O documento (PDF ou texto) é um contrato?")
    def triar(arquivo: UploadFile = File(..., description="PDF ou texto UTF-8")) -> dict[str, Any]:
        verdict = screen_upload(arquivo)
        return {**verdict, "detalhe": screening.explanation(verdict)}

    def screen_upload(arquivo: UploadFile) -> dict[str, Any]:
        name = f"triagem-{new_id()}.tmp"
        try:
            path = uploads.save(arquivo.file, config.uploads, name, config.max_bytes, check=uploads.check_pdf_or_text)
        except uploads.Rejected as exc:
            raise HTTPException(exc.status, str(exc)) from None
        try:
            return screening.screen(screening.read_pages(str(path)))
        except screening.NotReadable as exc:
            raise HTTPException(400, str(exc).replace(str(path), display_name(arquivo.filename))) from None
        finally:
            path.unlink(missing_ok=True)

    # --- pages ------------------------------------------------------------------------
    @app.get("/", response_class=HTMLResponse, include_in_schema=False)
    def inicio() -> str:
        return pages.upload_page(config.max_bytes)

    @app.get("/verificacoes/{job_id}", response_class=HTMLResponse, include_in_schema=False)
    def pagina_verificacao(job_id: str) -> str:
        return pages.job_page(job_or_404(job_id))

    @app.get("/verificacoes/{job_id}/fragmento", response_class=HTMLResponse, include_in_schema=False)
    def fragmento(job_id: str) -> HTMLResponse:
        job = job_or_404(job_id)
        done = job.status in (CONCLUIDO, ERRO)
        return HTMLResponse(pages.job_fragment(job), headers={"X-Quillon-Concluido": "1" if done else "0",
                                                              "Cache-Control": "no-store"})

    @app.get("/verificacoes/{job_id}/registro.json", include_in_schema=False)
    def registro(job_id: str) -> Response:
        job = job_or_404(job_id)
        if job.resultado is None:
            raise HTTPException(409, "a verificação ainda não tem registro")
        # Only plain characters in the header: the name is the client's.
        stem = re.sub(r"[^A-Za-z0-9._-]+", "_", pathlib.PurePath(job.arquivo).stem).strip("._")
        body = json.dumps(job.resultado, ensure_ascii=False, indent=2)
        return Response(body, media_type="application/json; charset=utf-8",
                        headers={"Content-Disposition": f'attachment; filename="{stem or "registro"}.json"'})

    @app.get("/cnpj", response_class=HTMLResponse, include_in_schema=False)
    def pagina_cnpj(cnpj: str = "") -> HTMLResponse:
        if not cnpj.strip():
            return HTMLResponse(pages.cnpj_page())
        try:
            return HTMLResponse(pages.cnpj_page(cnpj, record=consult(cnpj.strip())))
        except LookupFailed as exc:
            return HTMLResponse(pages.cnpj_page(cnpj, error=str(exc)), status_code=_LOOKUP_STATUS.get(exc.kind, 503))

    @app.get("/triagem", response_class=HTMLResponse, include_in_schema=False)
    def pagina_triagem() -> str:
        return pages.screening_page()

    @app.post("/triagem", response_class=HTMLResponse, include_in_schema=False)
    def pagina_triagem_resultado(arquivo: UploadFile = File(...)) -> HTMLResponse:
        try:
            verdict = screen_upload(arquivo)
        except HTTPException as exc:
            return HTMLResponse(pages.screening_page(error=str(exc.detail)), status_code=exc.status_code)
        return HTMLResponse(pages.screening_page(verdict, display_name(arquivo.filename)))

    @app.get("/static/{name}", include_in_schema=False)
    def asset(name: str) -> Response:
        if name not in ASSETS:
            raise HTTPException(404, "não encontrado")
        body = importlib.resources.files("quillon.serve").joinpath("static", name).read_bytes()
        return Response(body, media_type=ASSETS[name], headers={"Cache-Control": "no-cache"})

    @app.exception_handler(AnyHTTPException)
    async def http_error(request: Request, exc: AnyHTTPException) -> Response:
        if exc.status_code == 404 and "text/html" in request.headers.get("accept", "") \
                and not request.url.path.startswith("/api/"):
            return HTMLResponse(pages.layout("Não encontrado", f"<h1>{pages.esc(exc.detail)}</h1>"), status_code=404)
        return JSONResponse({"detail": exc.detail}, status_code=exc.status_code, headers=exc.headers)

    guarded: Any = BodyLimit(app, config.max_bytes, uploads.too_large(config.max_bytes).args[0])
    return TokenGuard(guarded, config.token)  # type: ignore[return-value]
