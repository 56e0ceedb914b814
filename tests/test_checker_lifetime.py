"""References and memory across many calls of the checker's compiled entry points.

Each entry point runs 100,000 times (the validations as 1,000 calls of 100
items each, between failing calls), mixing hits, misses and raised errors: the reference counts of
the arguments and the process's resident memory end where they started.  And
the check that a method is the class's own holds that method itself, so a
replaced method, once freed, is never mistaken for it nor called."""

from __future__ import annotations

import gc
import os
import sys

import pytest

from checker_fakes import FakeAdapter, registro, socio
from quillon.contract import checker as ck
from quillon.contract.models import AssinaturaExtraida, EmpresaExtraida

CALLS = 100_000
BATCH = 100
PAGE = os.sysconf("SC_PAGE_SIZE")

ACME = registro("11.222.333/0001-81", "ACME SERVICOS LTDA", "ATIVA",
                [socio("MARIA DA SILVA"), socio("HOLDING X", "37-Sócio", "YUN KI LEE", "17-Procurador")],
                logradouro="AVENIDA PAULISTA", numero="1000")
BAD_QSA = {"socios": [{"nome": 7}]}  # a name that is no text: TypeError


def rss() -> int:
    with open("/proc/self/statm") as fh:
        return int(fh.read().split()[1]) * PAGE


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


def steady(run, *args):
    """run(n): a tenth of the calls to warm up, then all of them; these must not grow anything."""
    run(10)
    gc.collect()
    counts, before = [sys.getrefcount(a) for a in args], rss()
    run(1)
    gc.collect()
    assert [sys.getrefcount(a) for a in args] == counts
    grown = rss() - before
    assert grown < 4 * 1024 * 1024, f"resident memory grew by {grown} bytes"


def raises(error, call, *args):
    try:
        call(*args)
    except error:
        return
    raise AssertionError("no error")


def test_normalizar_e_comparar(chk):
    name, other, empty = "  José da Conceição  ", "JOSE DA CONCEICAO", "   "

    def run(part):
        for i in range(CALLS // part):
            chk._normalizar_texto(name)
            if i % 3 == 0:
                raises(TypeError, chk._comparar_nomes, name, None)
            else:
                chk._comparar_nomes(name, other if i % 3 == 1 else empty)  # a hit, a miss

    steady(run, name, other, empty)


def test_verificar_poder_assinatura(chk):
    hit, miss = "Yun Ki Lee", "Fulano de Tal"

    def run(part):
        for i in range(CALLS // part):
            if i % 4 < 2:
                chk._verificar_poder_assinatura(hit if i % 4 else miss, ACME)
            else:
                raises(TypeError, chk._verificar_poder_assinatura, *((hit, BAD_QSA) if i % 4 == 2 else (None, ACME)))

    steady(run, hit, miss, ACME, BAD_QSA)


def test_validar_empresas(chk):
    empresas = [EmpresaExtraida(cnpj="11.222.333/0001-81", razao_social="Acme Serviços", endereco="Av Paulista 1000"),
                EmpresaExtraida(cnpj="00000000000000", razao_social="Nenhuma"),
                EmpresaExtraida(razao_social="Beta")] * (BATCH // 3)
    failing = [EmpresaExtraida(cnpj="11.222.333/0001-81")]

    def lookup_fails(cnpj):
        raise Unreachable(cnpj)

    def run(part):
        for i in range(CALLS // BATCH // part):
            chk._validar_empresas(empresas)
            chk.adapter.lookup_company, saved = lookup_fails, chk.adapter.lookup_company
            raises(Unreachable, chk._validar_empresas, failing)
            chk.adapter.lookup_company = saved
            raises(TypeError, chk._validar_empresas, tuple(failing))

    steady(run, empresas, failing, *empresas[:3])


def test_validar_assinaturas(chk):
    cache = {"11222333000181": ACME, "acme servicos": ACME}
    assinaturas = [AssinaturaExtraida(nome_signatario="Maria da Silva", cnpj_empresa="11.222.333/0001-81"),
                   AssinaturaExtraida(nome_signatario="Fulano", cnpj_empresa="11.222.333/0001-81"),
                   AssinaturaExtraida(nome_signatario="Yun Ki Lee", empresa_representada="Desconhecida"),
                   AssinaturaExtraida(nome_signatario="Ninguém"),
                   AssinaturaExtraida(nome_signatario="N/A")] * (BATCH // 5)
    bad_cache = {"11222333000181": BAD_QSA}

    def run(part):
        for i in range(CALLS // BATCH // part):
            chk._validar_assinaturas(assinaturas, cache)
            raises(TypeError, chk._validar_assinaturas, assinaturas[:1], bad_cache)
            raises(TypeError, chk._validar_assinaturas, assinaturas, [])

    steady(run, assinaturas, cache, bad_cache, ACME, *assinaturas[:5])


def test_a_freed_replacement_is_never_taken_for_the_class_method(chk, monkeypatch):
    # Replace the class's method and drop every other reference to the
    # original: a checker that borrowed its address could then meet a new
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
    calls.clear()
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
