"""References and memory across many calls of the checker's compiled entry points.

Each entry point runs 100,000 times (the validations as 1,000 calls of 100
items each, between failing calls), mixing hits, misses and raised errors:
the reference counts of the arguments and the process's resident memory end
where they started (``lifetime.check``).  And the check that a method is the
class's own holds that method itself, so a replaced method, once freed, is
never mistaken for it nor called."""

from __future__ import annotations

import gc
import itertools

import pytest

import lifetime
from checker_fakes import FakeAdapter, registro, socio
from quillon.contract import checker as ck
from quillon.contract.models import AssinaturaExtraida, EmpresaExtraida

BATCH = 100  # items of one validation call

ACME = registro("11.222.333/0001-81", "ACME SERVICOS LTDA", "ATIVA",
                [socio("MARIA DA SILVA"), socio("HOLDING X", "37-Sócio", "YUN KI LEE", "17-Procurador")],
                logradouro="AVENIDA PAULISTA", numero="1000")
BAD_QSA = {"socios": [{"nome": 7}]}  # a name that is no text: TypeError


class Unreachable(Exception):
    pass


class Forgetful(list):
    """The fake adapter's call log, kept empty: memory must not grow with it."""

    def append(self, item):
        pass


@pytest.fixture
def chk(monkeypatch):
    adapter = FakeAdapter(by_cnpj={"11222333000181": ACME}, by_name={"Beta": ACME})
    adapter.calls = Forgetful()
    monkeypatch.setattr(ck, "get_adapter", lambda country: adapter)
    return ck.ContractChecker("BR", provider="local", verbose=False)


def cycling(*calls):
    """A batch: n calls taken in turn from ``calls``."""
    def batch(n):
        for call in itertools.islice(itertools.cycle(calls), n):
            call()
    return batch


def test_normalizar_e_comparar(chk):
    name, other, empty = "  José da Conceição  ", "JOSE DA CONCEICAO", "   "
    lifetime.check(cycling(lambda: chk._normalizar_texto(name)), [name])
    lifetime.check(cycling(lambda: chk._comparar_nomes(name, other), lambda: chk._comparar_nomes(name, empty),
                           lifetime.raising(lambda: chk._comparar_nomes(name, None), TypeError)),
                   [name, other, empty])


def test_verificar_poder_assinatura(chk):
    hit, miss = "Yun Ki Lee", "Fulano de Tal"
    lifetime.check(cycling(lambda: chk._verificar_poder_assinatura(hit, ACME),
                           lambda: chk._verificar_poder_assinatura(miss, ACME),
                           lifetime.raising(lambda: chk._verificar_poder_assinatura(hit, BAD_QSA), TypeError),
                           lifetime.raising(lambda: chk._verificar_poder_assinatura(None, ACME), TypeError)),
                   [hit, miss, ACME, BAD_QSA])


def test_validar_empresas(chk):
    empresas = [EmpresaExtraida(cnpj="11.222.333/0001-81", razao_social="Acme Serviços", endereco="Av Paulista 1000"),
                EmpresaExtraida(cnpj="00000000000000", razao_social="Nenhuma"),
                EmpresaExtraida(razao_social="Beta")] * (BATCH // 3)
    failing = [EmpresaExtraida(cnpj="11.222.333/0001-81")]

    def lookup_fails(cnpj):
        raise Unreachable(cnpj)

    def fails_in_the_adapter():
        chk.adapter.lookup_company, saved = lookup_fails, chk.adapter.lookup_company
        try:
            chk._validar_empresas(failing)
        finally:
            chk.adapter.lookup_company = saved

    lifetime.check(cycling(lambda: chk._validar_empresas(empresas), lifetime.raising(fails_in_the_adapter, Unreachable),
                           lifetime.raising(lambda: chk._validar_empresas(tuple(failing)), TypeError)),
                   [empresas, failing, *empresas[:3]], calls=lifetime.CALLS // BATCH * 3, size=30)


def test_validar_assinaturas(chk):
    cache = {"11222333000181": ACME, "acme servicos": ACME}
    assinaturas = [AssinaturaExtraida(nome_signatario="Maria da Silva", cnpj_empresa="11.222.333/0001-81"),
                   AssinaturaExtraida(nome_signatario="Fulano", cnpj_empresa="11.222.333/0001-81"),
                   AssinaturaExtraida(nome_signatario="Yun Ki Lee", empresa_representada="Desconhecida"),
                   AssinaturaExtraida(nome_signatario="Ninguém"),
                   AssinaturaExtraida(nome_signatario="N/A")] * (BATCH // 5)
    bad_cache = {"11222333000181": BAD_QSA}
    lifetime.check(cycling(lambda: chk._validar_assinaturas(assinaturas, cache),
                           lifetime.raising(lambda: chk._validar_assinaturas(assinaturas[:1], bad_cache), TypeError),
                           lifetime.raising(lambda: chk._validar_assinaturas(assinaturas, []), TypeError)),
                   [assinaturas, cache, bad_cache, ACME, *assinaturas[:5]], calls=lifetime.CALLS // BATCH * 3, size=30)


class Comparison(lifetime.Counted):
    """A replaced _comparar_nomes (on the class: called without the instance) that counts its uses."""

    def __call__(self, nome1, nome2):
        lifetime.Counted.calls += 1
        return False


@pytest.mark.parametrize("name", ["_comparar_nomes", "_normalizar_texto", "_verificar_poder_assinatura"])
def test_a_freed_class_replacement_is_never_called(chk, name):
    replacement = {"_comparar_nomes": Comparison, "_normalizar_texto": lambda: Normaliser(),
                   "_verificar_poder_assinatura": lambda: Search()}[name]
    signature = AssinaturaExtraida(nome_signatario="Maria da Silva", cnpj_empresa="11.222.333/0001-81")
    lifetime.never_called_once_freed(
        ck.ContractChecker, name, replacement,
        lambda: (chk._verificar_poder_assinatura("Maria da Silva", ACME),
                 chk._validar_assinaturas([signature], {"11222333000181": ACME})[0].tem_poder_assinatura))


class Normaliser(lifetime.Counted):
    def __call__(self, texto):
        lifetime.Counted.calls += 1
        return texto


class Search(lifetime.Counted):
    def __call__(self, nome, dados):
        lifetime.Counted.calls += 1
        return False, None


def test_a_freed_replacement_is_never_taken_for_the_class_method(chk, monkeypatch):
    # Replace the class's method and drop every other reference to the
    # original: a check that borrowed its address could then meet a new
    # object at that address and take it for the class's own.
    original = ck.ContractChecker.__dict__["_comparar_nomes"]
    calls = []
    for i in range(2_000):
        def recorder(self, a, b, i=i):
            calls.append(i)
            return False

        monkeypatch.setattr(ck.ContractChecker, "_comparar_nomes", recorder)
        del recorder
        if i == 0:
            del original  # the class's own function lives on only in the module's check
            gc.collect()
        assert chk._verificar_poder_assinatura("Maria da Silva", ACME) == (False, None)
        assert calls[-1] == i  # the replacement decided, through the instance
    monkeypatch.undo()
    assert chk._verificar_poder_assinatura("Maria da Silva", ACME) == (True, "49-Sócio-Administrador")

    # An instance replacement, freed once removed, is never called again.
    def replaced(a, b):
        calls.append("freed")
        return True

    chk._comparar_nomes = replaced
    chk._verificar_poder_assinatura("x", ACME)
    del chk._comparar_nomes, replaced
    gc.collect()
    calls.clear()
    for i in range(1_000):
        chk.__dict__[f"other_{i % 10}"] = lambda a, b: calls.append("new") or True
        assert chk._verificar_poder_assinatura("Fulano", ACME) == (False, None)
    assert calls == []
