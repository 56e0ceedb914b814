"""The ``quillon`` command.

    quillon cnpj validar 11.222.333/0001-81 12.345.678/0001-99
    quillon cnpj formatar 11222333000181
    quillon cnpj limpar "CNPJ: 11.222.333/0001-81"
    echo 11222333000181 | quillon cnpj validar -

Exit status of ``validar``: 0 when every CNPJ is valid, 1 when any is not.
"""

from __future__ import annotations

import argparse
import sys
from typing import Iterable, Sequence


def _values(items: Sequence[str]) -> Iterable[str]:
    """The arguments, or the lines of standard input for "-" or no argument."""
    if not items or list(items) == ["-"]:
        for line in sys.stdin:
            line = line.strip()
            if line:
                yield line
    else:
        yield from items


def _cnpj(args: argparse.Namespace) -> int:
    from quillon.contract.countries.br.cnpj import formatar_cnpj, limpar_cnpj, validar_cnpj

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


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="quillon", description="Verificação de contratos brasileiros.")
    sub = parser.add_subparsers(dest="comando", required=True)

    cnpj = sub.add_parser("cnpj", help="limpar, validar e formatar CNPJs")
    cnpj.add_argument("acao", choices=["validar", "formatar", "limpar"])
    cnpj.add_argument("cnpjs", nargs="*", metavar="CNPJ", help='CNPJs; "-" or none reads standard input')
    cnpj.set_defaults(run=_cnpj)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    try:
        return args.run(args)
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        return 0


if __name__ == "__main__":
    sys.exit(main())
