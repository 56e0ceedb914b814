"""The contract checker's own work against the same workflow in plain Python.

    python bench/bench_checker.py [--quick]

Everything but the engine and the registry: the engine and the adapter are
instant stand-ins, so what is timed is extraction into models, company and
signature validation, classification and the result record.  Also timed: the
name and address comparisons alone, and 1,000 signatories against a cache of
1,000 records with 50 partners each (company found directly, and not found:
every cached partner list searched).
"""

from __future__ import annotations

import argparse
import os
import pathlib
import random
import sys
import tempfile
import time
import types
import unicodedata

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))

from _harness import per_call_ns, report  # noqa: E402
from text_oracles import comparar_enderecos as py_comparar_enderecos  # noqa: E402

import quillon  # noqa: E402
from quillon.contract import checker as ck  # noqa: E402
from quillon.contract.countries.br.cnpj import comparar_enderecos, formatar_cnpj, limpar_cnpj  # noqa: E402
from quillon.contract.models import (  # noqa: E402
    AssinaturaExtraida,
    AssinaturaVerificada,
    CampoVerificado,
    EmpresaExtraida,
    EmpresaVerificada,
)

FIRST = ["Maria", "João", "José", "Ana", "Pedro", "Paulo", "Carla", "Lucas", "Rafael", "Fernanda", "Juliana",
         "Marcos", "Bruno", "Patrícia", "Ricardo", "Antônio", "Luíza", "Gabriel", "Helena", "Otávio"]
LAST = ["Silva", "Santos", "Oliveira", "Souza", "Rodrigues", "Ferreira", "Alves", "Pereira", "Lima", "Gomes",
        "Costa", "Ribeiro", "Martins", "Carvalho", "Almeida", "Araújo", "Conceição", "Magalhães", "Brandão"]
STREETS = ["Avenida Paulista", "Rua das Flores", "Travessa do Comércio", "Praça da Sé", "Rua Augusta",
           "Avenida Brigadeiro Faria Lima", "Rua XV de Novembro", "Avenida Presidente Vargas"]


# --- the same workflow in plain Python ----------------------------------------
def py_normalizar_texto(texto):
    if not texto:
        return ""
    t = unicodedata.normalize("NFD", texto)
    return "".join(c for c in t if unicodedata.category(c) != "Mn").lower().strip()


def py_comparar_nomes(nome1, nome2):
    n1, n2 = py_normalizar_texto(nome1), py_normalizar_texto(nome2)
    if not n1 or not n2:
        return False
    if n1 in n2 or n2 in n1:
        return True
    w1 = {w for w in n1.split() if len(w) >= 3}
    w2 = {w for w in n2.split() if len(w) >= 3}
    return len(w1 & w2) >= 2


def py_poder(nome, dados):
    for s in dados.get("socios", []):
        if py_comparar_nomes(nome, s.get("nome", "") or ""):
            return True, s.get("qualificacao")
        rep = s.get("nome_representante", "")
        if rep and py_comparar_nomes(nome, rep):
            return True, s.get("qualificacao_representante")
    return False, None


def py_validar_empresas(adapter, empresas):
    out, cache = [], {}
    for emp in empresas:
        campos, problemas = [], []
        cnpj, registro, por_nome = emp.cnpj, None, False
        if cnpj and adapter.validate_company_id(limpar_cnpj(cnpj)):
            registro = adapter.lookup_company(limpar_cnpj(cnpj))
        if not registro and emp.razao_social:
            registro = adapter.search_companies(emp.razao_social)
            if registro:
                cnpj, por_nome = registro.get("cnpj", ""), True
        if not registro:
            campos.append(CampoVerificado(campo="CNPJ", status="reprovado", valor_contrato=cnpj or "(não informado)",
                                          valor_receita=None, mensagem="CNPJ não encontrado na Receita Federal"))
            out.append(EmpresaVerificada(cnpj=emp.cnpj or "", razao_social_contrato=emp.razao_social,
                                         papel_no_contrato=emp.papel_no_contrato, campos=campos,
                                         problemas=["CNPJ não encontrado"]))
            continue
        campos.append(CampoVerificado(campo="CNPJ", status="aprovado",
                                      valor_contrato=emp.cnpj or "(buscado automaticamente)",
                                      valor_receita=registro.get("cnpj"), mensagem="CNPJ encontrado"))
        situacao = (registro.get("situacao", "") or "").upper()
        ativa = "ATIVA" in situacao
        campos.append(CampoVerificado(campo="Situação Cadastral", status="aprovado" if ativa else "reprovado",
                                      valor_contrato="-", valor_receita=situacao,
                                      mensagem="Empresa ATIVA" if ativa else f"Empresa {situacao}"))
        if not ativa:
            problemas.append(f"Empresa com situação: {situacao}")
        razao_receita = registro.get("razao_social", "") or ""
        confere = py_comparar_nomes(emp.razao_social or "", razao_receita)
        campos.append(CampoVerificado(campo="Razão Social", status="aprovado" if confere else "pendente",
                                      valor_contrato=emp.razao_social, valor_receita=razao_receita,
                                      mensagem="Confere" if confere else "Divergente"))
        if emp.endereco:
            ok, sim, end = py_comparar_enderecos(emp.endereco, registro)
            campos.append(CampoVerificado(campo="Endereço", status="aprovado" if ok else "pendente",
                                          valor_contrato=emp.endereco, valor_receita=end,
                                          mensagem=f"Similaridade: {sim:.0%}"))
        if cnpj:
            cache[limpar_cnpj(cnpj)] = registro
        if emp.razao_social:
            cache[py_normalizar_texto(emp.razao_social)] = registro
        out.append(EmpresaVerificada(cnpj=registro.get("cnpj", ""), razao_social_contrato=emp.razao_social,
                                     razao_social_receita=registro.get("razao_social", ""),
                                     papel_no_contrato=emp.papel_no_contrato, campos=campos, cnpj_encontrado=True,
                                     cnpj_buscado_por_nome=por_nome, empresa_ativa=ativa,
                                     razao_social_confere=confere, socios=registro.get("socios", []),
                                     problemas=problemas))
    return out, cache


def py_validar_assinaturas(assinaturas, cache):
    out = []
    for a in assinaturas:
        nome = a.nome_signatario
        if not nome or nome == "N/A":
            out.append(AssinaturaVerificada(
                nome_signatario="(não identificado)", tipo_assinatura=a.tipo_assinatura,
                campos=[CampoVerificado(campo="Identificação", status="nao_verificado",
                                        mensagem="Signatário não identificado")],
                problemas=["Signatário não identificado"]))
            continue
        dados = cache.get(limpar_cnpj(a.cnpj_empresa)) if a.cnpj_empresa else None
        if not dados and a.empresa_representada:
            dados = cache.get(py_normalizar_texto(a.empresa_representada))
        tem, qual = False, None
        if dados:
            tem, qual = py_poder(nome, dados)
        else:
            for registro in cache.values():
                tem, qual = py_poder(nome, registro)
                if tem:
                    dados = registro
                    break
        problemas = []
        if tem:
            campo = CampoVerificado(campo="Poder de Assinatura", status="aprovado", valor_contrato=nome,
                                    valor_receita=qual or "Encontrado no QSA",
                                    mensagem=f"Signatário tem poder ({qual or 'Sócio/Admin'})")
        elif dados:
            socios = dados.get("socios", [])
            resumo = "QSA: " + ", ".join(s.get("nome", "") for s in socios[:3]) + "..." if socios else "QSA vazio"
            campo = CampoVerificado(campo="Poder de Assinatura", status="reprovado", valor_contrato=nome,
                                    valor_receita=resumo, mensagem="Signatário NÃO encontrado no QSA")
            problemas.append("Signatário sem poder de assinatura")
        else:
            campo = CampoVerificado(campo="Poder de Assinatura", status="pendente", valor_contrato=nome,
                                    mensagem="Não foi possível verificar")
        out.append(AssinaturaVerificada(nome_signatario=nome, cargo=a.cargo,
                                        empresa_representada=a.empresa_representada, cnpj_empresa=a.cnpj_empresa,
                                        tipo_assinatura=a.tipo_assinatura, campos=[campo],
                                        tem_poder_assinatura=tem, qualificacao_qsa=qual, problemas=problemas))
    return out


def py_verificar(engine, adapter, documento):
    resultado = engine.process(str(documento))
    r_emp, r_ass = resultado.get_result("empresas"), resultado.get_result("assinaturas")
    empresas = [EmpresaExtraida(**e) for e in r_emp.raw_result.get("empresas", [])]
    assinaturas = [AssinaturaExtraida(**a) for a in r_ass.raw_result.get("assinaturas", [])]
    verificadas, cache = py_validar_empresas(adapter, empresas)
    assinadas = py_validar_assinaturas(assinaturas, cache)
    listas = {"aprovado": [], "reprovado": [], "pendente": []}
    for e in verificadas:
        dono = e.razao_social_receita or e.razao_social_contrato or e.cnpj
        for c in e.campos:
            if c.status in listas:
                listas[c.status].append(f"{c.campo} - {dono}")
    for a in assinadas:
        for c in a.campos:
            if c.status in listas:
                listas[c.status].append(f"{c.campo} - {a.nome_signatario}")
    m = resultado.total_metrics
    return {"resultado_final": "REPROVADO" if listas["reprovado"] else "PENDENTE" if listas["pendente"] else "APROVADO",
            "empresas": [e.model_dump() for e in verificadas], "assinaturas": [a.model_dump() for a in assinadas],
            "metricas": {"tokens": m.tokens, "custo_usd": m.cost_usd, "tempo_segundos": m.time_seconds}}


# --- a contract of 20 companies and 50 signatories ------------------------------
def cnpj_for(i):
    base = f"{10_000_000 + i:08d}0001"
    def dig(b, pesos):
        r = sum(int(d) * p for d, p in zip(b, pesos)) % 11
        return "0" if r < 2 else str(11 - r)
    d1 = dig(base, [5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2])
    return base + d1 + dig(base + d1, [6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2])


def person(rng):
    return f"{rng.choice(FIRST)} {rng.choice(LAST)} {rng.choice(LAST)}"


def make_contract(rng, companies=20, signatories=50, partners=8):
    by_cnpj, by_name, empresas = {}, {}, []
    for i in range(companies):
        cnpj = cnpj_for(i)
        street, numero = rng.choice(STREETS), str(rng.randint(1, 4000))
        razao = f"{rng.choice(LAST)} {rng.choice(['Comércio', 'Serviços', 'Tecnologia'])} {i} Ltda"
        socios = [{"nome": person(rng).upper(), "qualificacao": "49-Sócio-Administrador", "data_entrada": "",
                   "cpf_representante": "", "nome_representante": "", "qualificacao_representante": ""}
                  for _ in range(partners)]
        registro = {"fonte": "BrasilAPI", "cnpj": formatar_cnpj(cnpj), "razao_social": razao.upper(),
                    "nome_fantasia": "", "situacao": "ATIVA" if i % 5 else "BAIXADA", "data_situacao": "",
                    "data_abertura": "", "natureza_juridica": "", "porte": "", "capital_social": 0,
                    "endereco": {"logradouro": street.upper(), "numero": numero, "complemento": "",
                                 "bairro": "CENTRO", "cidade": "SAO PAULO", "uf": "SP", "cep": "01310100"},
                    "email": "", "socios": socios}
        by_cnpj[cnpj] = registro
        by_name[razao] = registro
        empresas.append({"cnpj": formatar_cnpj(cnpj) if i % 4 else None, "razao_social": razao,
                         "endereco": f"{street}, {numero}, Centro, São Paulo - SP", "papel_no_contrato": "contratada"})
    assinaturas = []
    for j in range(signatories):
        registro = by_cnpj[cnpj_for(j % companies)]
        kind = j % 5
        nome = registro["socios"][j % partners]["nome"].title() if kind < 3 else person(rng)
        assinaturas.append({"nome_signatario": "N/A" if kind == 4 else nome,
                            "cnpj_empresa": registro["cnpj"] if kind != 3 else None,
                            "empresa_representada": None if kind != 3 else "Empresa Fora do Contrato"})
    return by_cnpj, by_name, empresas, assinaturas


class Adapter:
    def __init__(self, by_cnpj, by_name):
        self.by_cnpj, self.by_name = by_cnpj, by_name

    def validate_company_id(self, c):
        return len(c) == 14

    def lookup_company(self, c):
        return self.by_cnpj.get(c)

    def search_companies(self, n):
        return self.by_name.get(n)


class Engine:
    def __init__(self, empresas, assinaturas):
        answer = lambda raw: types.SimpleNamespace(raw_result=raw)  # noqa: E731
        self.result = types.SimpleNamespace(
            get_result={"empresas": answer({"empresas": empresas}), "assinaturas": answer({"assinaturas": assinaturas}),
                        "dados_contrato": answer({})}.get,
            total_metrics=types.SimpleNamespace(tokens=0, cost_usd=0.0, time_seconds=0.0))

    def process(self, path):
        return self.result


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--quick", action="store_true")
    args = ap.parse_args()
    rng = random.Random(5)
    by_cnpj, by_name, empresas, assinaturas = make_contract(rng)
    adapter, engine = Adapter(by_cnpj, by_name), Engine(empresas, assinaturas)
    os.environ.setdefault("OPENAI_API_KEY", "sk-bench")
    ck.get_adapter = lambda country: adapter
    checker = ck.ContractChecker("BR", verbose=False)
    checker._client, checker._quillon_available = engine, True
    doc = pathlib.Path(tempfile.mkstemp(suffix=".pdf")[1])

    ours, theirs = checker.verificar(doc), py_verificar(engine, adapter, doc)
    assert ours["empresas"] == theirs["empresas"] and ours["assinaturas"] == theirs["assinaturas"]
    assert ours["resultado_final"] == theirs["resultado_final"]

    runs = [None] * (5 if args.quick else 20)
    t_ours = per_call_ns(lambda _: checker.verificar(doc), runs)
    t_py = per_call_ns(lambda _: py_verificar(engine, adapter, doc), runs)
    report("A contract of 20 companies and 50 signatories (engine and registry instant), per contract",
           [("ContractChecker.verificar", t_ours, None),
            ("same workflow in plain Python", t_py, t_py / t_ours)])

    names = [(person(rng), person(rng).upper()) for _ in range(2000)]
    pairs = [(e["endereco"], by_cnpj[cnpj_for(i)]) for i, e in enumerate(empresas)] * 100
    t_n = per_call_ns(lambda p: checker._comparar_nomes(*p), names)
    t_np = per_call_ns(lambda p: py_comparar_nomes(*p), names)
    t_a = per_call_ns(lambda p: comparar_enderecos(*p), pairs)
    t_ap = per_call_ns(lambda p: py_comparar_enderecos(*p), pairs)
    report("Comparisons inside the checker", [
        ("_comparar_nomes", t_n, None), ("plain Python", t_np, t_np / t_n),
        ("comparar_enderecos", t_a, None), ("plain Python", t_ap, t_ap / t_a)])

    records = 200 if args.quick else 1000
    cache = {}
    for i in range(records):
        registro = {"cnpj": f"{i:014d}", "socios": [
            {"nome": person(rng).upper(), "qualificacao": "49", "nome_representante": "",
             "qualificacao_representante": ""} for _ in range(50)]}
        cache[f"{i:014d}"] = registro
        cache[f"empresa {i}"] = registro
    # Signatories listed in no QSA: the search cannot stop early.
    outsider = lambda i: f"Signatário{i} Externo{i} Desconhecido{i}"  # noqa: E731
    for label, make_sig in (
            ("company found directly", lambda i: {"cnpj_empresa": f"{i % records:014d}"}),
            ("company not found: every QSA searched", lambda i: {"empresa_representada": "Empresa Ausente"})):
        sigs = [AssinaturaExtraida(nome_signatario=outsider(i), **make_sig(i)) for i in range(records)]
        t0 = time.perf_counter()
        checker._validar_assinaturas(sigs, cache)
        print(f"\n{records:,} signatories x {records:,} records x 50 partners, {label}: "
              f"{time.perf_counter() - t0:.2f} s")


if __name__ == "__main__":
    main()
