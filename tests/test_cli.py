"""The command line, run as a user runs it."""

import subprocess
import sys

import pytest


def run(*args, stdin=None):
    return subprocess.run([sys.executable, "-m", "quillon", *args], input=stdin, capture_output=True, text=True)


@pytest.mark.parametrize(
    ("args", "stdout", "status"),
    [
        (["cnpj", "validar", "11222333000181"], "11.222.333/0001-81\tválido\n", 0),
        (["cnpj", "validar", "11.222.333/0001-81", "12.345.678/0001-99"],
         "11.222.333/0001-81\tválido\n12.345.678/0001-99\tinválido\n", 1),
        (["cnpj", "formatar", "11222333000181", "12.345"], "11.222.333/0001-81\n12.345\n", 0),
        (["cnpj", "limpar", "CNPJ: 11.222.333/0001-81"], "11222333000181\n", 0),
    ],
)
def test_cnpj_commands(args, stdout, status):
    out = run(*args)
    assert (out.stdout, out.returncode) == (stdout, status)


def test_reads_standard_input():
    out = run("cnpj", "validar", "-", stdin="11222333000181\n\n123\n")
    assert out.stdout == "11.222.333/0001-81\tválido\n123\tinválido\n"
    assert out.returncode == 1


def test_usage_error_is_one_message_not_a_traceback():
    out = run("cnpj", "apagar", "1")
    assert out.returncode == 2
    assert "Traceback" not in out.stderr
