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


@pytest.mark.parametrize("wrapped", [True, False])
def test_ctrl_c_inside_a_commands_own_error_is_still_an_interrupt(monkeypatch, tmp_path, wrapped):
    """A Ctrl-C that a library turned into its own error, and the command then into
    its one-line error, ends the command as an interrupt (130), not as a failure (3)."""
    from quillon import cli

    def interrupted_reading(args):
        try:
            try:
                raise KeyboardInterrupt
            except KeyboardInterrupt as exc:
                raise RuntimeError("leitura falhou") from exc  # the library's wrapping
        except Exception:
            if wrapped:
                raise cli.CommandError("não foi possível ler o PDF") from None
            raise

    monkeypatch.setattr(cli, "_ocr", interrupted_reading)
    assert cli.main(["ocr", str(tmp_path / "x.pdf")]) == 130


def test_a_commands_own_error_is_one_line_and_status_3(monkeypatch, tmp_path, capsys):
    from quillon import cli

    def failing(args):
        raise cli.CommandError("arquivo não encontrado")

    monkeypatch.setattr(cli, "_ocr", failing)
    assert cli.main(["ocr", str(tmp_path / "x.pdf")]) == 3
    assert capsys.readouterr().err == "erro: arquivo não encontrado\n"
