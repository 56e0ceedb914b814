"""The package as a whole: the six compiled modules, their stubs, logging, import weight."""

import importlib
import importlib.machinery
import logging
import pathlib
import subprocess
import sys

import pytest

MODULES = {
    "quillon.contract.checker": "ContractChecker - Verificador de Legitimidade de Contratos.\n\n"
    "Usa Quillon para extrair dados e valida contra Receita Federal.\n",
    "quillon.contract.countries.br.cnpj": None,
    "quillon.contract.countries.br.ie": None,
    "quillon.contract.countries.br.keywords": "Keywords para validação de documentos como contratos.",
    "quillon.ocr": "Módulo OCR usando Azure AI Vision com fallback para Vision LLM.\n",
    "quillon.resilience": "Mecanismos de resiliência: retry com backoff exponencial e circuit breaker.",
}


@pytest.mark.parametrize("name", MODULES)
def test_each_module_is_compiled_with_stub_and_logger(name):
    mod = importlib.import_module(name)
    path = pathlib.Path(mod.__file__)
    assert path.suffix in importlib.machinery.EXTENSION_SUFFIXES or path.name.endswith(".so"), path
    assert (path.parent / (name.rsplit(".", 1)[1] + ".pyi")).is_file()
    if MODULES[name] is not None:
        assert mod.__doc__ == MODULES[name]
    else:
        assert mod.__doc__
    assert isinstance(mod.logger, logging.Logger)
    assert mod.logger.name == name


def test_py_typed_marker():
    import quillon

    assert (pathlib.Path(quillon.__file__).parent / "py.typed").is_file()


def test_top_level_logger_has_only_a_null_handler():
    import quillon  # noqa: F401

    handlers = logging.getLogger("quillon").handlers
    assert [type(h) for h in handlers] == [logging.NullHandler]


def test_import_quillon_stays_light():
    code = (
        "import sys, quillon, quillon.contract.countries.br.cnpj;"
        "heavy = [m for m in ('fitz', 'openai', 'azure', 'requests', 'PIL', 'pydantic') if m in sys.modules];"
        "print(','.join(heavy))"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == ""

