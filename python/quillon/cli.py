"""The ``quillon`` command.

    quillon verificar contrato.pdf [mais.pdf | pasta/] [--json | --jsonl] [--jobs N | --ray [ENDEREÇO]]
             [--retomar RESULTADOS.jsonl] [--provider local|openai|azure] [--offline] [--registry-db ARQUIVO]
    quillon cnpj validar|formatar|limpar|consultar CNPJ...
    quillon ie CNPJ
    quillon triagem arquivo.pdf|arquivo.txt [--json]
    quillon ocr arquivo.pdf
    quillon registry import PASTA | sample | consultar CNPJ | buscar NOME   [--registry-db ARQUIVO]
    quillon serve [--host 127.0.0.1] [--port 8000] [--jobs N] [--provider ...] [--offline] [--registry-db ARQUIVO]

Exit status of ``verificar``: 0 APROVADO, 1 REPROVADO, 2 PENDENTE, 3 error
(with several files: 3 if any failed, else 1 if any was rejected, else 2 if
any is pending, else 0).  ``cnpj validar``: 0 when every CNPJ is valid, 1 when
any is not.  ``triagem``: 0 contract, 1 not a contract.  Errors are one line
on standard error, never a traceback.
"""

from __future__ import annotations

import argparse
import json
import os
import sys
from typing import Iterable, Sequence

EXIT_ERROR = 3


class CommandError(Exception):
    """Reported as one line, exit status 3."""


def _light_pymupdf() -> None:
    # PyMuPDF imports its optional layout-analysis and LLM plug-ins when they
    # are installed (onnxruntime, numpy: a second and more of start-up); this
    # program reads plain text and renders pages only.
    if "pymupdf" not in sys.modules:
        sys.modules.setdefault("pymupdf.layout", None)
        sys.modules.setdefault("pymupdf4llm", None)


def _values(items: Sequence[str]) -> Iterable[str]:
    """The arguments, or the lines of standard input for "-" or no argument."""
    if not items or list(items) == ["-"]:
        for line in sys.stdin:
            line = line.strip()
            if line:
                yield line
    else:
        yield from items


def _dump(value, stream=None) -> None:
    print(json.dumps(value, ensure_ascii=False, indent=2, default=str), file=stream or sys.stdout)


# --- registry options ------------------------------------------------------------
def _registry_environment(args: argparse.Namespace) -> dict[str, str]:
    """QUILLON_OFFLINE / QUILLON_REGISTRY_DB for the options given, after checking the database is there."""
    env: dict[str, str] = {}
    db = getattr(args, "registry_db", None)
    if db:
        path = os.path.abspath(os.path.expanduser(db))
        if not os.path.isfile(path):
            raise CommandError(f"cadastro local não encontrado: {db} (crie-o com: quillon registry sample "
                               f"--registry-db {db}, ou quillon registry import PASTA --registry-db {db})")
        env["QUILLON_REGISTRY_DB"] = path
        os.environ.pop("QUILLON_REGISTRY_URL", None)
    if getattr(args, "offline", False):
        env["QUILLON_OFFLINE"] = "1"
        if not db:
            _check_default_registry()
    os.environ.update(env)
    return env


def _check_default_registry() -> None:
    try:
        from quillon.registry import settings
    except ImportError:
        raise CommandError("--offline precisa do cadastro local (quillon.registry), ausente nesta instalação") from None
    try:
        backend, where = settings.registry_location()
    except ValueError as exc:
        raise CommandError(str(exc)) from None
    if backend == "sqlite" and not os.path.isfile(where):
        raise CommandError(f"cadastro local não encontrado: {where} (use --registry-db ARQUIVO, ou crie-o com "
                           "quillon registry sample / quillon registry import PASTA)")
    if backend == "postgresql":
        try:
            from quillon import registry

            registry.open_registry()
        except Exception as exc:
            raise CommandError(f"cadastro local inacessível ({where.split('@')[-1]}): {exc}") from None


# --- verificar -----------------------------------------------------------------
def _verificar(args: argparse.Namespace) -> int:
    from quillon import batch

    env = _registry_environment(args)
    try:
        files = batch.pdf_files(args.arquivos)
    except batch.UserError as exc:
        raise CommandError(str(exc)) from None
    if args.provider:
        provider = args.provider.strip().lower()
    else:
        provider = None
    if args.retomar:
        done = batch.already_reported(args.retomar)
        skipped = [f for f in files if os.path.abspath(f) in done]
        files = [f for f in files if os.path.abspath(f) not in done]
        if skipped:
            print(f"retomando: {len(skipped)} contrato(s) já em {args.retomar}, {len(files)} a verificar",
                  file=sys.stderr)
        if not files:
            return 0
    options = batch.Options(provider=provider, model=args.model, precheck=not args.no_precheck,
                            human=not (args.json or args.jsonl), environ=env)
    from quillon.executors import executor_for

    executor = executor_for(jobs=max(1, min(args.jobs or 1, len(files))), ray_address=args.ray or None,
                            use_ray=args.ray is not None)

    from quillon.progress import Progress

    progress = Progress(len(files), "Verificando")
    statuses: list[int] = []
    records = []
    registry_warned = False

    def emit(outcome) -> None:
        nonlocal registry_warned
        progress.clear()
        statuses.append(outcome.status)
        if outcome.registry_unavailable and not registry_warned:
            # Once a run: the companies concerned are pending, and the field says why for each.
            registry_warned = True
            print(f"aviso: {outcome.registry_unavailable}; as empresas não verificadas ficam pendentes",
                  file=sys.stderr)
        if outcome.error is not None:
            print(f"erro: {outcome.error}", file=sys.stderr)
            if args.jsonl:
                print(json.dumps({"arquivo": outcome.path, "erro": outcome.error}, ensure_ascii=False))
        elif args.jsonl:
            print(json.dumps(outcome.record, ensure_ascii=False, default=str))
        elif args.json:
            records.append(outcome.record)
        else:
            sys.stdout.write(outcome.report)
        sys.stdout.flush()
        progress.advance()

    outcomes = executor.outcomes(files, options)
    try:
        for outcome in outcomes:
            emit(outcome)
    except batch.UserError as exc:  # the executor cannot run this batch (no Ray, a registry out of reach)
        raise CommandError(str(exc)) from None
    finally:
        outcomes.close()  # an interruption ends the workers before it propagates
    progress.close()
    if args.json:
        _dump(records[0] if len(files) == 1 and records else records)
    return batch.overall_status(statuses)


# --- cnpj, ie --------------------------------------------------------------------
def _cnpj(args: argparse.Namespace) -> int:
    from quillon.contract.countries.br.cnpj import formatar_cnpj, limpar_cnpj, validar_cnpj

    if args.acao == "consultar":
        return _cnpj_consultar(args)
    status = 0
    for value in _values(args.cnpjs):
        if args.acao == "validar":
            ok = validar_cnpj(value)
            status |= 0 if ok else 1
            print(f"{formatar_cnpj(value)}\t{'válido' if ok else 'inválido'}")
        elif args.acao == "formatar":
            print(formatar_cnpj(value))
        else:
            print(limpar_cnpj(value))
    return status


def _cnpj_consultar(args: argparse.Namespace) -> int:
    from quillon.company_lookup import INVALID, UNAVAILABLE, LookupFailed, consult
    from quillon.contract.countries.registry import get_adapter

    _registry_environment(args)
    adapter = get_adapter("BR")
    status = 0
    for value in _values(args.cnpjs):
        try:
            record = consult(value, adapter)
        except LookupFailed as exc:
            if exc.kind == INVALID:
                raise CommandError(str(exc)) from None
            print(f"erro: {exc}", file=sys.stderr)
            status = EXIT_ERROR if exc.kind == UNAVAILABLE else max(status, 1)
            continue
        _dump(record)
    return status


def _ie(args: argparse.Namespace) -> int:
    from quillon.contract.countries.br.cnpj import validar_cnpj
    from quillon.contract.countries.br.ie import buscar_ie_por_cnpj

    if not validar_cnpj(args.cnpj):
        raise CommandError(f"CNPJ inválido: {args.cnpj}")
    if not (args.api_key or os.environ.get("CNPJA_API_KEY")):
        raise CommandError("a consulta de inscrições estaduais usa o CNPJá: defina CNPJA_API_KEY ou passe --api-key")
    if args.api_key:
        # The lookup reads its key from the environment at each call.
        os.environ["CNPJA_API_KEY"] = args.api_key
    result = buscar_ie_por_cnpj(args.cnpj)
    if result is None:
        raise CommandError("consulta ao CNPJá falhou (sem resposta utilizável)")
    _dump(result)
    return 0


# --- triagem, ocr ------------------------------------------------------------------
def _read_pages(path: str, progress_label: str = "Lendo páginas") -> list[str]:
    from quillon.progress import Progress
    from quillon.screening import NotReadable, read_pages

    if not os.path.exists(path):
        raise CommandError(f"Arquivo não encontrado: {path}")
    with Progress(0, progress_label) as bar:
        try:
            return read_pages(path, progress=bar.update)
        except NotReadable as exc:
            raise CommandError(str(exc)) from None


def _triagem(args: argparse.Namespace) -> int:
    from quillon import screening

    verdict = screening.screen(_read_pages(args.arquivo))
    if args.json:
        _dump(verdict)
    else:
        print(f"{screening.headline(verdict)}\t{verdict['quantidade']} termo(s)\t{screening.explanation(verdict)}")
    return 0 if verdict["eh_contrato"] else 1


def _ocr(args: argparse.Namespace) -> int:
    from quillon import batch
    from quillon.engine.documents import read_document
    from quillon.progress import Progress

    path = args.arquivo
    try:
        batch._check_pdf(path)
    except batch.UserError as exc:
        raise CommandError(str(exc)) from None
    with Progress(0, "OCR") as bar:
        try:
            doc = read_document(path, use_tesseract=not args.sem_tesseract, progress=bar.update)
        except Exception as exc:
            raise CommandError(batch.describe_error(exc, path)) from None
    for page in doc.pages:
        line = {"page": page.number, "source": page.source, "unreadable": page.number in doc.unreadable,
                "text": page.text}
        if page.number in doc.reasons:
            line["motivo"] = doc.reasons[page.number]
        print(json.dumps(line, ensure_ascii=False))
    return 0


# --- serve ----------------------------------------------------------------------------
def _serve(args: argparse.Namespace) -> int:
    from quillon import batch

    try:
        from quillon.serve import config as serve_config
        from quillon.serve.main import run
    except ImportError as exc:
        raise CommandError(f'o servidor precisa do extra "serve" (pip install "quillon[serve]"): {exc}') from None
    env = _registry_environment(args)
    provider = args.provider.strip().lower() if args.provider else None
    options = batch.Options(provider=provider, model=args.model, precheck=not args.no_precheck, environ=env)
    try:
        config = serve_config.from_environment(args.host, args.port, args.jobs, options)
        run(config)
    except (serve_config.ConfigError, batch.UserError) as exc:
        raise CommandError(str(exc)) from None
    return 0


# --- registry -------------------------------------------------------------------
def _registry(args: argparse.Namespace) -> int:
    from quillon.registry import command_line

    if args.registry_command == "import" and not os.path.isdir(args.folder):
        raise CommandError(f"pasta não encontrada: {args.folder}")
    return command_line.run(args)


# --- parser ---------------------------------------------------------------------------
def _registry_options(p: argparse.ArgumentParser) -> None:
    p.add_argument("--offline", action="store_true", help="só o cadastro local; nenhum serviço web")
    p.add_argument("--registry-db", metavar="ARQUIVO", help="arquivo SQLite do cadastro local")


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="quillon", description="Verificação de contratos brasileiros.")
    sub = parser.add_subparsers(dest="comando", required=True)

    ver = sub.add_parser("verificar", help="verifica contratos em PDF (empresas, situação, QSA)")
    ver.add_argument("arquivos", nargs="+", metavar="ARQUIVO", help="PDFs, ou pastas com PDFs")
    out = ver.add_mutually_exclusive_group()
    out.add_argument("--json", action="store_true", help="o registro do resultado em JSON")
    out.add_argument("--jsonl", action="store_true", help="um registro JSON por linha, por contrato")
    ver.add_argument("--provider", choices=["local", "openai", "azure"],
                     help="quem extrai os dados: local (regras, sem rede), openai ou azure")
    ver.add_argument("--model", default="gpt-4o", help="modelo dos provedores openai/azure")
    ver.add_argument("--jobs", "-j", type=int, default=1, metavar="N", help="processos em paralelo")
    ver.add_argument("--no-precheck", action="store_true", help="extrai mesmo o que a triagem não tem por contrato")
    ver.add_argument("--ray", nargs="?", const="", metavar="ENDEREÇO",
                     help='verifica num cluster Ray (pip install "quillon[ray]"): "auto" entra no cluster que roda '
                          "aqui; sem endereço, QUILLON_RAY_ADDRESS ou um Ray novo nesta máquina")
    ver.add_argument("--retomar", metavar="RESULTADOS.jsonl",
                     help="pula os contratos já numa saída --jsonl anterior (um lote interrompido continua)")
    _registry_options(ver)
    ver.set_defaults(run=_verificar)

    cnpj = sub.add_parser("cnpj", help="limpar, validar, formatar e consultar CNPJs")
    cnpj.add_argument("acao", choices=["validar", "formatar", "limpar", "consultar"])
    cnpj.add_argument("cnpjs", nargs="*", metavar="CNPJ", help='CNPJs; "-" or none reads standard input')
    _registry_options(cnpj)
    cnpj.set_defaults(run=_cnpj)

    ie = sub.add_parser("ie", help="inscrições estaduais de um CNPJ (CNPJá)")
    ie.add_argument("cnpj")
    ie.add_argument("--api-key", help="chave do CNPJá (senão CNPJA_API_KEY)")
    ie.set_defaults(run=_ie)

    tri = sub.add_parser("triagem", help="o documento é um contrato? (PDF ou texto)")
    tri.add_argument("arquivo")
    tri.add_argument("--json", action="store_true")
    tri.set_defaults(run=_triagem)

    ocr = sub.add_parser("ocr", help="as páginas de um PDF, em linhas JSON")
    ocr.add_argument("arquivo")
    ocr.add_argument("--sem-tesseract", action="store_true", help="não lê páginas escaneadas com o Tesseract")
    ocr.set_defaults(run=_ocr)

    srv = sub.add_parser("serve", help="página web e API HTTP de verificação (extra serve)")
    srv.add_argument("--host", default="127.0.0.1", help="endereço (fora do loopback, só com QUILLON_SERVE_TOKEN)")
    srv.add_argument("--port", type=int, default=8000, help="porta (0: uma livre, dita no log)")
    srv.add_argument("--jobs", "-j", type=int, default=min(2, os.cpu_count() or 1), metavar="N",
                     help="verificações em paralelo")
    srv.add_argument("--provider", choices=["local", "openai", "azure"],
                     help="quem extrai os dados: local (regras, sem rede), openai ou azure")
    srv.add_argument("--model", default="gpt-4o", help="modelo dos provedores openai/azure")
    srv.add_argument("--no-precheck", action="store_true", help="extrai mesmo o que a triagem não tem por contrato")
    _registry_options(srv)
    srv.set_defaults(run=_serve)

    from quillon.registry import command_line

    reg = sub.add_parser("registry", help="cadastro local de CNPJs (dados abertos da Receita Federal)",
                         description=command_line.DESCRIPTION)
    command_line.add_commands(reg)
    reg.set_defaults(run=_registry)
    return parser


def _interrupted(exc: BaseException) -> bool:
    """Whether ``exc`` stands for a Ctrl-C: an extension module whose loading was
    interrupted reports an ImportError caused by the KeyboardInterrupt."""
    seen: set[int] = set()
    cause: BaseException | None = exc
    while cause is not None and id(cause) not in seen:
        if isinstance(cause, KeyboardInterrupt):
            return True
        seen.add(id(cause))
        cause = cause.__cause__ or cause.__context__
    return False


def main(argv: Sequence[str] | None = None) -> int:
    _light_pymupdf()
    args = build_parser().parse_args(argv)
    try:
        return args.run(args)
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        return 0
    except Exception as exc:
        # A Ctrl-C that surfaced inside another error (a library that wraps
        # whatever its callback raised, a command's own one-line error) is
        # still the user's interrupt, not a failure.
        if _interrupted(exc):
            return 130
        if isinstance(exc, CommandError):
            print(f"erro: {exc}", file=sys.stderr)
            return EXIT_ERROR
        # a failure we did not foresee: still one line
        from quillon.batch import describe_error

        print(f"erro: {describe_error(exc)}", file=sys.stderr)
        return EXIT_ERROR


if __name__ == "__main__":
    sys.exit(main())
