"""Command line of the registry database.

    python -m quillon.registry import DIR      import the published files of DIR
    python -m quillon.registry sample          import the sample files shipped with quillon
    python -m quillon.registry consultar CNPJ  the record of a CNPJ in the database (JSON)
    python -m quillon.registry buscar NOME     the record of the company best matching NOME (JSON)

The database is the one the environment names (QUILLON_REGISTRY_URL,
QUILLON_REGISTRY_DB, else the user's data folder); --db and --url choose
another. Exit status: 0 done, 1 nothing found or nothing to import, 2 usage,
130 interrupted (run the same import again to continue).
"""

from __future__ import annotations

import argparse
import json
import sys

from quillon.registry import open_store, settings


def _store(args):
    if args.url:
        return open_store("postgresql", args.url)
    if args.db:
        return open_store("sqlite", args.db)
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


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m quillon.registry", description="Cadastro local de CNPJs "
                                     "(dados abertos da Receita Federal).")
    parser.add_argument("--db", help="arquivo SQLite do cadastro")
    parser.add_argument("--url", help="URL postgresql:// do cadastro")
    commands = parser.add_subparsers(dest="command", required=True)
    imp = commands.add_parser("import", help="importa os arquivos publicados de uma pasta")
    imp.add_argument("folder")
    imp.add_argument("--commit-every", type=int, default=None, help="linhas entre confirmações (retomada)")
    imp.add_argument("--no-progress", action="store_true", help="sem barra de progresso")
    commands.add_parser("sample", help="importa a amostra que acompanha o quillon")
    look = commands.add_parser("consultar", help="registro de um CNPJ")
    look.add_argument("cnpj")
    find = commands.add_parser("buscar", help="registro da empresa de um nome")
    find.add_argument("nome")
    find.add_argument("--uf")
    args = parser.parse_args(argv)

    from quillon.registry import importer, records, sample

    try:
        store = _store(args)
    except Exception as error:
        print(f"Cadastro indisponível: {error}", file=sys.stderr)
        return 1
    try:
        if args.command in ("import", "sample"):
            options = {"progress": False if getattr(args, "no_progress", False) else None}
            if getattr(args, "commit_every", None):
                options["commit_every"] = args.commit_every
            try:
                if args.command == "import":
                    report = importer.import_folder(store, args.folder, **options)
                else:
                    report = sample.build_sample(store, **options)
            except (importer.RegistryImportError, NotADirectoryError) as error:
                print(error, file=sys.stderr)
                return 1
            except KeyboardInterrupt:
                print("\nImportação interrompida; rode o mesmo comando para continuar de onde parou.",
                      file=sys.stderr)
                return 130
            _print_import(report, sys.stderr)
            return 0
        from quillon.contract.countries.br.cnpj import limpar_cnpj

        if args.command == "consultar":
            record = records.lookup(store, limpar_cnpj(args.cnpj))
        else:
            record = records.search(store, args.nome, args.uf)
        if record is None:
            print("Não encontrado no cadastro local.", file=sys.stderr)
            return 1
        json.dump(record, sys.stdout, ensure_ascii=False, indent=2)
        print()
        return 0
    finally:
        store.close()


if __name__ == "__main__":
    sys.exit(main())
