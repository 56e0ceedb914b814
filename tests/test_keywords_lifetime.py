"""The keywords module over 100,000 calls of each entry point, with hits, misses and
raised errors: the arguments' reference counts and the process's memory stay as
they were, and a table that replaced a module attribute and was then put back
and freed is never read again."""

import pytest

from quillon.contract.countries.br import keywords as mod

import lifetime

CONTRACT = ("CONTRATO Nº 5/2025\nO MUNICÍPIO DE BASTOS, neste ato representado por seu Prefeito, CONTRATANTE, "
            "e ACME LTDA, CONTRATADA, cláusula primeira, foro, valor, vigência")
NOT_A_CONTRACT = "NOTA FISCAL DE SERVIÇOS\nvalor do contrato, cláusula, foro"
NOTHING = "uma lista de compras: pão, leite, café"


def cycle(calls):
    """A batch that runs ``calls`` in turn, ``n`` calls in all."""
    def batch(n):
        for i in range(n):
            calls[i % len(calls)]()
    return batch


class Number(int):
    """MIN_KEYWORDS as a caller may set it: an int of its own type (compared through Python)."""


def test_normalizar_texto():
    texts = ["Ação É ΣΑΣ", "x" * 300, "plain ascii", "İstanbul ẞ", ""]
    wrong = 5
    calls = [lambda t=t: mod.normalizar_texto(t) for t in texts]
    calls.append(lifetime.raising(lambda: mod.normalizar_texto(wrong), TypeError))
    lifetime.check(cycle(calls), texts + [wrong])


def test_validar_documento_contrato_with_the_module_tables_and_with_replaced_ones(monkeypatch):
    texts = [CONTRACT, NOT_A_CONTRACT, NOTHING, ""]
    calls = [lambda t=t: mod.validar_documento_contrato(t) for t in texts]
    calls.append(lifetime.raising(lambda: mod.validar_documento_contrato(None), TypeError))
    lifetime.check(cycle(calls), texts)

    validacao, exclusao, minimo = ["contrato", "cláusula", "foro"], ("boleto",), Number(2)
    monkeypatch.setattr(mod, "KEYWORDS_VALIDACAO", validacao)
    monkeypatch.setattr(mod, "KEYWORDS_EXCLUSAO", exclusao)
    monkeypatch.setattr(mod, "MIN_KEYWORDS", minimo)
    assert mod.validar_documento_contrato(CONTRACT) == (True, 3, validacao)
    lifetime.check(cycle(calls), texts + [validacao, exclusao, minimo, *validacao])

    bad = ["contrato", 7]
    monkeypatch.setattr(mod, "KEYWORDS_VALIDACAO", bad)
    error = lifetime.raising(lambda: mod.validar_documento_contrato(CONTRACT), TypeError)
    lifetime.check(cycle([error]), [bad, CONTRACT])


def test_triar_documento():
    pages = [CONTRACT, "cláusula segunda"]
    texts = [CONTRACT + "\f" + NOT_A_CONTRACT, NOT_A_CONTRACT, NOTHING, ""]
    wrong = [CONTRACT, 3]
    calls = [lambda: mod.triar_documento(pages)] + [lambda t=t: mod.triar_documento(t) for t in texts]
    calls.append(lifetime.raising(lambda: mod.triar_documento(wrong), TypeError))
    assert mod.triar_documento(pages)["eh_contrato"] is True
    assert mod.triar_documento(NOT_A_CONTRACT)["eh_contrato"] is False
    lifetime.check(cycle(calls), [pages, wrong, *pages, *texts])


def test_triar_documento_with_replaced_tables(monkeypatch):
    outros, partes, cabecalho = ["memorial descritivo"], [("contratante", "contratad")], Number(500)
    monkeypatch.setattr(mod, "TRIAGEM_OUTROS", outros)
    monkeypatch.setattr(mod, "TRIAGEM_PARTES", partes)
    monkeypatch.setattr(mod, "TRIAGEM_CABECALHO", cabecalho)
    memorial = "MEMORIAL DESCRITIVO\n" + CONTRACT
    bad_pairs = [("contratante",)]
    calls = [lambda: mod.triar_documento(memorial), lambda: mod.triar_documento(CONTRACT)]
    assert mod.triar_documento(memorial)["exclusao"] == "memorial descritivo"
    lifetime.check(cycle(calls), [memorial, outros, partes, cabecalho, *outros, *partes])

    monkeypatch.setattr(mod, "TRIAGEM_PARTES", bad_pairs)
    error = lifetime.raising(lambda: mod.triar_documento(CONTRACT), TypeError)
    lifetime.check(cycle([error]), [bad_pairs, CONTRACT])


class Watched(list, lifetime.Counted):
    """A table that counts its readings."""

    def __iter__(self):
        lifetime.Counted.calls += 1
        return super().__iter__()


@pytest.mark.parametrize(("name", "call"), [
    ("KEYWORDS_VALIDACAO", lambda: mod.validar_documento_contrato(CONTRACT)),
    ("KEYWORDS_EXCLUSAO", lambda: mod.validar_documento_contrato(CONTRACT)),
    ("KEYWORDS_VALIDACAO", lambda: mod.triar_documento(CONTRACT)),
    ("TRIAGEM_OUTROS", lambda: mod.triar_documento(CONTRACT)),
    ("TRIAGEM_QUALIFICACAO", lambda: mod.triar_documento(CONTRACT)),
])
def test_a_table_put_back_and_freed_is_never_read_again(name, call):
    original = getattr(mod, name)
    lifetime.never_called_once_freed(mod, name, lambda: Watched(original), call)
