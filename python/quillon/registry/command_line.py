"""The commands of the registry database, one tree for both ways of calling them.

    quillon registry import DIR                 import the published files of DIR
    quillon registry sample                     import the sample files shipped with quillon
    quillon registry consultar CNPJ             the record of a CNPJ in the database (JSON)
    quillon registry buscar NOME [--uf UF]      the record of the company best matching NOME (JSON)

``python -m quillon.registry ...`` runs the same commands.  The database is the
one the environment names (QUILLON_REGISTRY_URL, QUILLON_REGISTRY_DB, else the
user's data folder); ``--registry-db FILE`` (also spelled ``--db``) and
``--url URL`` choose another, before or after the command's name.  Exit
status: 0 done, 1 nothing found or nothing to import, 2 usage, 130
interrupted (run the same import again to continue).
"""

from __future__ import annotations

import argparse
import json
import os
import sys

DESCRIPTION = "Cadastro local de CNPJs (dados abertos da Receita Federal)."


def _add_database_options(parser: argparse.ArgumentParser) -> None:
    # SUPPRESS: an option given before the command's name is not overwritten by
    # the command's own (absent) copy of it.
    parser.add_argument("--registry-db", "--db", dest="registry_db", metavar="ARQUIVO",
                        default=argparse.SUPPRESS, help="arquivo SQLite do cadastro")
    parser.add_argument("--url", default=argparse.SUPPRESS, help="URL postgresql:// do cadastro")


def add_commands(parser: argparse.ArgumentParser) -> None:
    """The registry's options and commands on ``parser`` (a program's or a subcommand's)."""
    _add_database_options(parser)
    database = argparse.ArgumentParser(add_help=False)
    _add_database_options(database)
    commands = parser.add_subparsers(dest="registry_command", metavar="COMANDO", required=True)
    imp = commands.add_parser("import", parents=[database], help="importa os arquivos publicados de uma pasta")
    imp.add_argument("folder", metavar="PASTA", help="pasta dos arquivos publicados")
    imp.add_argument("--commit-every", type=int, default=None, help="linhas entre confirmações (retomada)")
    imp.add_argument("--no-progress", action="store_true", help="sem barra de progresso")
    sample = commands.add_parser("sample", parents=[database], help="importa a amostra que acompanha o quillon")
    sample.add_argument("--no-progress", action="store_true", help="sem barra de progresso")
    look = commands.add_parser("consultar", parents=[database], help="registro de um CNPJ")
    look.add_argument("cnpj")
    find = commands.add_parser("buscar", parents=[database], help="registro da empresa de um nome")
    find.add_argument("nome")
    find.add_argument("--uf")


def database_file(args: argparse.Namespace) -> str | None:
    """The SQLite file given on the command line, as an absolute path (None: not given)."""
    path = getattr(args, "registry_db", None)
    return os.path.abspath(os.path.expanduser(path)) if path else None


def _store(args: argparse.Namespace):
    from quillon.registry import open_store, settings

    url, path = getattr(args, "url", None), database_file(args)
    if url:
        return open_store("postgresql", url)
    if path:
        if args.registry_command in ("import", "sample"):
            os.makedirs(os.path.dirname(path), exist_ok=True)
        return open_store("sqlite", path)
    return open_store(*settings.registry_location())


def _print_import(report, out) -> None:
    if report.status == "unchanged":
        print(f"Nada a fazer: estes arquivos já foram importados (importação {report.run}).", file=out)
        return
    rate = report.rows / report.seconds if report.seconds else 0.0
    resumed = f", {report.resumed_files} retomados" if report.resumed_files else ""
    print(f"Importação {report.run} concluída: {report.files} arquivos{resumed}, {report.rows:,} linhas, "
          f"{report.malformed} malformadas, {report.seconds:.1f} s ({rate:,.0f} linhas/s).", file=out)
    if not report.complete:
        print("Base parcial (não são todas as partes de uma publicação mensal): um CNPJ ausente dela é "
              "consultado nos serviços web, ou fica pendente com --offline.", file=out)
    for name in report.ignored:
        print(f"Ignorado: {name}", file=out)
    for duplicate in report.duplicates:
        print(f"Ignorado (cópia): {duplicate}", file=out)


def _import(args: argparse.Namespace, store) -> int:
    from quillon.registry import importer, sample

    options = {"progress": False if args.no_progress else None}
    if getattr(args, "commit_every", None):
        options["commit_every"] = args.commit_every
    try:
        if args.registry_command == "import":
            report = importer.import_folder(store, args.folder, **options)
        else:
            report = sample.build_sample(store, **options)
    except (importer.RegistryImportError, NotADirectoryError) as error:
        print(error, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("\nImportação interrompida; rode o mesmo comando para continuar de onde parou.", file=sys.stderr)
        return 130
    _print_import(report, sys.stderr)
    return 0


def _look_up(args: argparse.Namespace, store) -> int:
    from quillon.contract.countries.br.cnpj import limpar_cnpj
    from quillon.registry import records

    if args.registry_command == "consultar":
        record = records.lookup(store, limpar_cnpj(args.cnpj))
    else:
        record = records.search(store, args.nome, args.uf)
    if record is None:
        print("Não encontrado no cadastro local.", file=sys.stderr)
        return 1
    json.dump(record, sys.stdout, ensure_ascii=False, indent=2)
    print()
    return 0


def run(args: argparse.Namespace) -> int:
    """Run the registry command parsed into ``args``; the exit status."""
    try:
        store = _store(args)
    except Exception as error:
        print(f"Cadastro indisponível: {error}", file=sys.stderr)
        return 1
    try:
        if args.registry_command in ("import", "sample"):
            return _import(args, store)
        return _look_up(args, store)
    finally:
        store.close()


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m quillon.registry", description=DESCRIPTION)
    add_commands(parser)
    return run(parser.parse_args(argv))
