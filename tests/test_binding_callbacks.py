"""Every entry point of the compiled modules survives callbacks that rebind or
delete the module attributes it read (tables, collaborators, `fitz`,
`requests`, the logger): the binding holds what it uses.

Each case runs in its own interpreter under PYTHONMALLOC=debug, which
overwrites freed memory at once, so a use after free crashes that process
(and fails the case) instead of the test run.  An exception raised by the
entry point is fine: the stand-ins may not satisfy it; a crash is not.
(The open-data line reader calls no Python code while it reads: its inputs
are checked by nanobind's strict conversions, and its fuzz target covers it.)
"""

import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

HERE = pathlib.Path(__file__).resolve().parent

# Code every case starts with: a loopback server that answers each registry
# service with a published answer, and the URL constants pointed at it.
PRELUDE = """
import http.server, io, json, pathlib, sys, threading
from churn import Churn

FIXTURES = pathlib.Path("fixtures/registry")
BRASILAPI = (FIXTURES / "brasilapi/brasilapi_active_google_qsa_representante_legal.json").read_bytes()
CNPJA = (FIXTURES / "cnpja/cnpja_office_filial_registrations_mixed_status.json").read_bytes()
SEARCH = json.dumps({"data": {"cnpj": [{"cnpj": "06990590000123"}]}}).encode()

class Answers(http.server.BaseHTTPRequestHandler):
    def answer(self):
        body = CNPJA if self.path.startswith("/office") else SEARCH if self.path.startswith("/search") else BRASILAPI
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    do_GET = do_POST = answer
    def log_message(self, *args):
        pass

server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Answers)
threading.Thread(target=server.serve_forever, daemon=True).start()
BASE = "http://127.0.0.1:%d" % server.server_address[1]

from quillon.contract.countries.br import cnpj, ie, keywords
cnpj.BRASIL_API_URL = BASE + "/api/cnpj/v1/{cnpj}"
cnpj.RECEITA_WS_URL = BASE + "/v1/cnpj/{cnpj}"
cnpj.CASADOSDADOS_API = BASE + "/search"
ie.CNPJA_API_URL = BASE + "/office/{cnpj}"
import os
os.environ["CNPJA_API_KEY"] = "cnpja-test-key"

def attempt(call):
    try:
        call()
    except Exception as e:  # the stand-ins may well make the call fail: only a crash matters
        print("raised", type(e).__name__)
"""

# (entry point, the module whose attributes churn, the call).
CASES = {
    "triar_documento": ("keywords", "keywords.triar_documento(['CONTRATO DE PRESTAÇÃO DE SERVIÇOS', 'contratante e contratada'])"),
    "validar_documento_contrato": ("keywords", "keywords.validar_documento_contrato('contrato contratante contratada cláusula objeto')"),
    "consultar_cnpj": ("cnpj", "cnpj.consultar_cnpj('11.222.333/0001-81')"),
    "consultar_cnpj_online": ("cnpj", "cnpj.consultar_cnpj_online('11222333000181')"),
    "buscar_cnpj_por_nome": ("cnpj", "cnpj.buscar_cnpj_por_nome('BETA COMERCIO', 'SP')"),
    "buscar_empresa": ("cnpj", "cnpj.buscar_empresa(nome='BETA COMERCIO')"),
    "buscar_empresa_completo": ("cnpj", "cnpj.buscar_empresa_completo(cnpj='11222333000181')"),
    "comparar_enderecos": ("cnpj", "cnpj.comparar_enderecos('Rua A, 1', {'endereco': {'logradouro': 'RUA A', 'numero': '1'}})"),
    "buscar_ie_por_cnpj": ("ie", "ie.buscar_ie_por_cnpj('11222333000181')"),
    "load_pdf_with_ocr": ("ocr", "ocr.load_pdf_with_ocr(io.BytesIO(PDF), use_azure=False, ocr_fallback='auto', llm_caller=lambda m, s: 'texto')"),
    "process_pdf_smart": ("ocr", "ocr.process_pdf_smart(PDF, ocr_fallback='force', llm_caller=lambda m, s: 'texto')"),
    "perform_vision_fallback": ("ocr", "ocr.perform_vision_fallback(PNG, llm_caller=lambda m, s: 'texto')"),
    "render_page_as_image": ("ocr", "ocr.render_page_as_image(DOC, 0)"),
    "render_page_as_pdf": ("ocr", "ocr.render_page_as_pdf(DOC, 0)"),
    "perform_azure_ocr": ("ocr", "ocr.perform_azure_ocr(PNG)"),
    "CircuitBreaker": ("resilience", "BREAKER(churn.stand_in(1), churn.stand_in(0.0))"),
    "create_retry_decorator": ("resilience", "resilience.create_retry_decorator(max_retries=2, min_wait=0, max_wait=0)(FLAKY)()"),
    "ContractChecker.verificar": ("checker", "checker.ContractChecker('BR', openai_api_key='sk-test').verificar(CONTRACT)"),
    "verificar_contrato": ("checker", "checker.verificar_contrato(CONTRACT, 'BR', openai_api_key='sk-test')"),
    "ContractChecker.relatorio": ("checker", "(lambda c: (setattr(c, 'pendente_sem_verificacao', True), "
                                             "c.verificar(CONTRACT), c.relatorio()))"
                                             "(checker.ContractChecker('BR', openai_api_key='sk-test', verbose=False))"),
    }

SETUP = {
    "ocr": """
from quillon import ocr
import pymupdf
sys.path.insert(0, ".")
from ocr_helpers import PageLayout, make_pdf, png_bytes
PDF = make_pdf(["CONTRATO " * 40, PageLayout(image=True)])
PNG = png_bytes()
DOC = pymupdf.open(stream=PDF, filetype="pdf")
""",
    "resilience": """
from quillon import resilience
calls = []
def FLAKY():
    calls.append(1)
    if len(calls) == 1:
        raise resilience.QuillonRateLimitError("busy")
    return "ok"

def BREAKER(threshold, timeout):
    breaker = resilience.CircuitBreaker(failure_threshold=threshold, recovery_timeout=timeout)
    breaker.record_failure()  # opens it: logged
    breaker.can_execute()  # half-open: logged
    breaker.record_success()
    breaker._failure_threshold = threshold
    breaker._last_failure_time = timeout
""",
    "checker": """
import quillon
from quillon.contract import checker
from checker_fakes import Answer, FakeAdapter, FakeEngine, Record, Result, registro, socio
ACME = registro("11.222.333/0001-81", "ACME SERVICOS LTDA", "ATIVA", [socio("MARIA DA SILVA")])
adapter = FakeAdapter(by_cnpj={"11222333000181": ACME})
checker.get_adapter = lambda country: adapter
quillon.Quillon, quillon.Question, quillon.QuestionConfig = FakeEngine, Record, Record
FakeEngine.result = Result({
    "empresas": Answer({"empresas": [{"nome": "ACME SERVICOS LTDA", "cnpj": "11.222.333/0001-81", "papel": "contratada"}]}),
    "assinaturas": Answer({"assinaturas": [{"nome": "MARIA DA SILVA", "empresa": "ACME SERVICOS LTDA", "tipo": "digital"}]}),
    "dados_contrato": Answer({"objeto": "Serviços"})})
CONTRACT = "contrato.pdf"
pathlib.Path(CONTRACT).write_bytes(b"%PDF-1.4\\n")
""",
}


def run_case(name: str, delete: bool, tmp_path: pathlib.Path) -> subprocess.CompletedProcess:
    module, call = CASES[name]
    script = PRELUDE + SETUP.get(module, "") + textwrap.dedent(f"""
        target = {module}
        churn = Churn(target, delete={delete})
        attempt(lambda: {call})
        uses = churn.uses
        churn.churn()
        attempt(lambda: {call})
        print("survived", uses)
        """)
    env = dict(os.environ, PYTHONMALLOC="debug", PYTHONFAULTHANDLER="1", PYTHONPATH=str(HERE))
    for key in ("OPENAI_API_KEY", "AZURE_OPENAI_API_KEY", "AZURE_OPENAI_ENDPOINT", "AZURE_OCR_KEY", "AZURE_OCR_ENDPOINT"):
        env.pop(key, None)
    work = tmp_path / "work"
    work.mkdir(exist_ok=True)
    (work / "fixtures").symlink_to(HERE / "fixtures")
    return subprocess.run([sys.executable, "-c", script], cwd=work, env=env, capture_output=True, text=True,
                          timeout=120)


@pytest.mark.parametrize("delete", [False, True], ids=["rebound", "deleted"])
@pytest.mark.parametrize("name", list(CASES))
def test_entry_point_survives_callbacks_that_free_what_it_read(name, delete, tmp_path):
    done = run_case(name, delete, tmp_path)
    assert done.returncode == 0, f"exit {done.returncode}\n{done.stdout[-2000:]}\n{done.stderr[-4000:]}"
    survived = [line for line in done.stdout.splitlines() if line.startswith("survived")]
    assert survived, done.stdout + done.stderr
    assert int(survived[0].split()[1]) > 0, "no callback ran: the case tests nothing\n" + done.stdout


def test_triar_documento_survives_the_table_that_rebinds_itself(tmp_path):
    """The report's minimal form: a table whose __iter__ rebinds the attribute."""
    script = textwrap.dedent("""
        from quillon.contract.countries.br import keywords as K
        class T:
            def __iter__(self):
                K.KEYWORDS_VALIDACAO = ["contrato"]
                return iter(["contrato"])
        K.KEYWORDS_VALIDACAO = T()
        print(K.triar_documento("contrato")["keywords"])
        """)
    done = subprocess.run([sys.executable, "-c", script], env=dict(os.environ, PYTHONMALLOC="debug"),
                          capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stdout.strip()) == (0, "['contrato']"), done.stderr[-3000:]


def test_load_pdf_with_ocr_survives_a_source_whose_read_rebinds_fitz(tmp_path):
    script = textwrap.dedent("""
        import io, sys, types
        import pymupdf
        from quillon import ocr
        sys.path.insert(0, %r)
        from ocr_helpers import make_pdf
        PDF = make_pdf(["CONTRATO DE PRESTACAO DE SERVICOS " * 10])
        fake = types.ModuleType("fitz_stand_in")
        fake.open = pymupdf.open
        ocr.fitz = fake
        del fake
        class Source(io.BytesIO):
            def read(self, *args):
                ocr.fitz = pymupdf  # the stand-in's last reference goes
                return super().read(*args)
        pages = ocr.load_pdf_with_ocr(Source(PDF), use_azure=False)
        print(len(pages))
        """ % str(HERE))
    done = subprocess.run([sys.executable, "-c", script], env=dict(os.environ, PYTHONMALLOC="debug"),
                          capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stdout.strip()) == (0, "1"), done.stderr[-3000:]


@pytest.mark.parametrize("method", ["_validar_empresas", "_validar_assinaturas"])
def test_checker_survives_callbacks_that_empty_the_list_it_walks(method):
    """The adapter (companies) or a signature's attribute (signatures) clears the list being walked."""
    script = textwrap.dedent("""
        import sys
        sys.path.insert(0, %r)
        from quillon.contract import checker
        from quillon.contract.models import AssinaturaExtraida, EmpresaExtraida
        from checker_fakes import registro, socio

        work = []
        class Adapter:
            def validate_company_id(self, cnpj):
                work.clear()  # the list the checker walks: its items and its storage go
                return True
            def lookup_company(self, cnpj):
                return registro(cnpj, "ACME SERVICOS LTDA", "ATIVA", [socio("MARIA DA SILVA")])
            def search_companies(self, name):
                return None
        checker.get_adapter = lambda country: Adapter()
        c = checker.ContractChecker("BR", openai_api_key="sk-test", verbose=False)

        class Signature:
            def __init__(self):
                self.signature = AssinaturaExtraida(nome_signatario="MARIA DA SILVA", cnpj_empresa="11222333000181")
            @property
            def nome_signatario(self):
                work.clear()
                return "MARIA DA SILVA"
            def __getattr__(self, name):
                return getattr(self.signature, name)

        if %r == "_validar_empresas":
            work.extend(EmpresaExtraida(razao_social=f"EMPRESA {k}", cnpj="11.222.333/0001-81") for k in range(3))
            out, _ = c._validar_empresas(work)
        else:
            work.extend(Signature() for k in range(3))
            out = c._validar_assinaturas(work, {"11222333000181": registro("11222333000181", "ACME", "ATIVA",
                                                                                [socio("MARIA DA SILVA")])})
        print(len(out))
        """ % (str(HERE), method))
    done = subprocess.run([sys.executable, "-c", script], env=dict(os.environ, PYTHONMALLOC="debug"),
                          capture_output=True, text=True, timeout=60)
    assert (done.returncode, done.stdout.strip()) == (0, "3"), done.stderr[-3000:]
