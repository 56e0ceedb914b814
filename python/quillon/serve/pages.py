"""The server's HTML pages, in Portuguese, rendered here: no templates, no front-end build.

Every value from a document, the registry or the user passes through
``esc`` before it enters a page.
"""

from __future__ import annotations

import html
from typing import Any, Iterable, Optional

from quillon import screening
from quillon.serve.jobs import CONCLUIDO, ERRO, Job
from quillon.serve.uploads import megabytes

#: What the page calls each step of a verification (``batch.STEPS``), and the wait before it.
STEP_LABELS = {"na_fila": "Na fila", "leitura": "Leitura das páginas", "extracao": "Extração dos dados",
               "cadastro": "Consulta ao cadastro", "assinaturas": "Assinaturas"}
VERDICT_CLASS = {"APROVADO": "aprovado", "REPROVADO": "reprovado", "PENDENTE": "pendente"}
CONTRACT_LABELS = {"tipo_contrato": "Tipo de contrato", "objeto": "Objeto", "data": "Data", "vigencia": "Vigência",
                   "valor": "Valor", "foro": "Foro"}
STATUS_LABEL = {"aprovado": "✔ aprovado", "reprovado": "✘ reprovado", "pendente": "? pendente",
                "nao_verificado": "– não verificado"}


def esc(value: Any) -> str:
    return html.escape("" if value is None else str(value), quote=True)


def layout(title: str, body: str, *, script: bool = False) -> str:
    js = '<script src="/static/app.js" defer></script>' if script else ""
    return f"""<!doctype html>
<html lang="pt-BR"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{esc(title)} · quillon</title><link rel="stylesheet" href="/static/app.css">{js}</head>
<body><header><a class="marca" href="/">quillon</a><nav><a href="/">Verificar contratos</a>
<a href="/cnpj">Consultar CNPJ</a><a href="/triagem">Triagem</a></nav></header>
<main>{body}</main></body></html>"""


# --- verification -------------------------------------------------------------------
def upload_page(max_bytes: int) -> str:
    max_mb = megabytes(max_bytes)
    return layout("Verificar contratos", f"""<h1>Verificar contratos</h1>
<p>Envie um ou vários contratos em PDF (até {max_mb} MB cada). Cada um é lido, os dados são extraídos,
as empresas são conferidas no cadastro da Receita Federal e os signatários no quadro de sócios (QSA).</p>
<form id="envio" class="envio" method="post" action="/api/verificacoes" enctype="multipart/form-data"
 data-max-bytes="{max_bytes}" data-max-mb="{max_mb}">
<label id="soltar" class="soltar" for="arquivos">Arraste os PDFs para cá ou <u>escolha os arquivos</u></label>
<input id="arquivos" name="arquivo" type="file" accept="application/pdf,.pdf" multiple>
</form>
<section id="verificacoes" aria-live="polite"></section>""", script=True)


def steps(job: Job) -> str:
    """The steps list of a job still running."""
    current = job.etapa or "na_fila"
    order = list(STEP_LABELS)
    at = order.index(current) if current in order else 0
    items = []
    for i, key in enumerate(order):
        state = "feito" if i < at else "atual" if i == at else "depois"
        items.append(f'<li class="{state}" data-etapa="{key}">{esc(STEP_LABELS[key])}</li>')
    return f'<ol class="etapas">{"".join(items)}</ol>'


def job_fragment(job: Job) -> str:
    """A job's card: its steps while it runs, its report once done."""
    head = f'<h2 class="arquivo">{esc(job.arquivo)}</h2>'
    if job.status == ERRO:
        return f'{head}<div class="banner erro" role="alert">Erro: {esc(job.erro)}</div>'
    if job.status != CONCLUIDO or job.resultado is None:
        return head + steps(job)
    return head + report(job.resultado, job.id)


def report(record: dict[str, Any], job_id: str) -> str:
    verdict = str(record.get("resultado_final", "PENDENTE"))
    parts = [f'<div class="banner {VERDICT_CLASS.get(verdict, "pendente")}" role="status">'
             f'<strong class="veredito">{esc(verdict)}</strong> <span>{esc(record.get("justificativa"))}</span>'
             f'<span class="totais">{esc(record.get("total_aprovados", 0))} aprovado(s) · '
             f'{esc(record.get("total_reprovados", 0))} reprovado(s) · '
             f'{esc(record.get("total_pendentes", 0))} pendente(s)</span></div>']
    if record.get("paginas_ilegiveis"):
        parts.append(f'<p class="aviso">Páginas ilegíveis: {esc(", ".join(map(str, record["paginas_ilegiveis"])))}</p>')
    empresas = record.get("empresas") or []
    parts.append(f"<h3>Empresas ({len(empresas)})</h3>")
    for e in empresas:
        parts.append(f'<article class="empresa"><h4>{esc(e.get("razao_social_receita") or e.get("razao_social_contrato"))}'
                     f' <small>{esc(e.get("cnpj"))} · {esc(e.get("papel_no_contrato"))}</small></h4>'
                     f'{fields(e.get("campos") or [])}</article>')
    assinaturas = record.get("assinaturas") or []
    parts.append(f"<h3>Signatários ({len(assinaturas)})</h3>")
    for a in assinaturas:
        qualificacao = a.get("qualificacao_qsa") or "não consta no QSA"
        parts.append(f'<article class="assinatura"><h4>{esc(a.get("nome_signatario") or "(não identificado)")}'
                     f' <small>{esc(a.get("cargo"))} · {esc(a.get("empresa_representada"))}</small></h4>'
                     f'<p>Qualificação no QSA: <strong>{esc(qualificacao)}</strong></p>'
                     f'{fields(a.get("campos") or [])}</article>')
    dados = record.get("dados_contrato") or {}
    if dados:
        rows = "".join(f"<tr><th>{esc(CONTRACT_LABELS.get(k, k.replace('_', ' ').capitalize()))}</th><td>{esc(v)}</td></tr>"
                       for k, v in dados.items() if v)
        parts.append(f'<h3>Dados do contrato</h3><table class="dados">{rows}</table>')
    parts.append(f'<p><a class="baixar" href="/verificacoes/{esc(job_id)}/registro.json" download>'
                 f'Baixar o registro (JSON)</a></p>')
    return "".join(parts)


def fields(campos: Iterable[dict[str, Any]]) -> str:
    rows = "".join(
        f'<tr class="{esc(c.get("status"))}"><th>{esc(c.get("campo"))}</th>'
        f'<td data-rotulo="No contrato">{esc(c.get("valor_contrato"))}</td>'
        f'<td data-rotulo="No cadastro">{esc(c.get("valor_receita"))}</td>'
        f'<td data-rotulo="Resultado">{esc(STATUS_LABEL.get(c.get("status"), c.get("status")))}'
        f'<br><small>{esc(c.get("mensagem"))}</small></td></tr>' for c in campos)
    return ('<table class="campos"><thead><tr><th>Campo</th><th>No contrato</th><th>No cadastro</th>'
            f'<th>Resultado</th></tr></thead><tbody>{rows}</tbody></table>')


def job_page(job: Job) -> str:
    running = job.status not in (CONCLUIDO, ERRO)
    return layout(f"Verificação de {job.arquivo}",
                  f'<section class="verificacao" data-id="{esc(job.id)}" data-ativa="{str(running).lower()}">'
                  f'{job_fragment(job)}</section>', script=running)


# --- CNPJ ----------------------------------------------------------------------------
def cnpj_page(query: str = "", record: Optional[dict[str, Any]] = None, error: Optional[str] = None) -> str:
    body = [f"""<h1>Consultar CNPJ</h1><form class="linha" method="get" action="/cnpj">
<input name="cnpj" value="{esc(query)}" placeholder="00.000.000/0000-00" required inputmode="text">
<button>Consultar</button></form>"""]
    if error:
        body.append(f'<div class="banner erro" role="alert">{esc(error)}</div>')
    if record:
        end = record.get("endereco") or {}
        endereco = ", ".join(str(end.get(k)) for k in ("logradouro", "numero", "complemento", "bairro", "cidade",
                                                         "uf", "cep") if end.get(k))
        situacao = str(record.get("situacao") or "")
        rows = [("CNPJ", record.get("cnpj")), ("Razão social", record.get("razao_social")),
                ("Nome fantasia", record.get("nome_fantasia")), ("Situação", situacao),
                ("Abertura", record.get("data_abertura")), ("Natureza jurídica", record.get("natureza_juridica")),
                ("Porte", record.get("porte")), ("Capital social", record.get("capital_social")),
                ("Endereço", endereco), ("Fonte", record.get("fonte"))]
        table = "".join(f"<tr><th>{esc(k)}</th><td>{esc(v)}</td></tr>" for k, v in rows if v not in (None, ""))
        klass = "aprovado" if situacao.upper() == "ATIVA" else "reprovado"
        body.append(f'<div class="banner {klass}"><strong>{esc(record.get("razao_social"))}</strong> '
                    f'<span>{esc(situacao)}</span></div><table class="dados">{table}</table>')
        socios = record.get("socios") or []
        srows = "".join(f"<tr><td>{esc(s.get('nome'))}</td><td>{esc(s.get('qualificacao'))}</td>"
                        f"<td>{esc(s.get('data_entrada'))}</td></tr>" for s in socios)
        body.append(f'<h3>Quadro de sócios e administradores ({len(socios)})</h3><table class="socios">'
                    f'<thead><tr><th>Nome</th><th>Qualificação</th><th>Entrada</th></tr></thead>'
                    f'<tbody>{srows}</tbody></table>')
    return layout("Consultar CNPJ", "".join(body))


# --- screening -----------------------------------------------------------------------
def screening_page(verdict: Optional[dict[str, Any]] = None, name: str = "", error: Optional[str] = None) -> str:
    body = ["""<h1>Triagem de documento</h1><p>O documento é um contrato? Envie um PDF ou um texto.</p>
<form class="linha" method="post" action="/triagem" enctype="multipart/form-data">
<input name="arquivo" type="file" accept="application/pdf,.pdf,.txt,text/plain" required>
<button>Verificar</button></form>"""]
    if error:
        body.append(f'<div class="banner erro" role="alert">{esc(error)}</div>')
    if verdict is not None:
        klass = "aprovado" if verdict["eh_contrato"] else "pendente"
        body.append(f'<h2 class="arquivo">{esc(name)}</h2><div class="banner {klass}">'
                    f'<strong class="veredito">{esc(screening.headline(verdict))}</strong> '
                    f'<span>{esc(screening.explanation(verdict))}</span>'
                    f'<span class="totais">{esc(verdict.get("quantidade"))} termo(s) de contrato</span></div>'
                    f'<p>Termos encontrados: {esc(", ".join(verdict.get("keywords") or []))}</p>')
    return layout("Triagem", "".join(body))


def unauthorized_page() -> str:
    return layout("Acesso restrito", """<h1>Acesso restrito</h1>
<p>Este servidor pede um token de acesso.</p><form id="token" class="linha">
<input name="token" type="password" placeholder="token" required autocomplete="current-password">
<button>Entrar</button></form><script>
document.getElementById('token').addEventListener('submit', function (e) {
  e.preventDefault();
  document.cookie = 'quillon_token=' + encodeURIComponent(this.token.value) + '; path=/; SameSite=Strict';
  location.reload();
});</script>""")
