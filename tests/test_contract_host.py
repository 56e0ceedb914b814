"""Host models and authentication used by the checker."""

import pytest

from quillon.contract.auth import QuillonAuth
from quillon.contract.models import (
    AssinaturaVerificada,
    CampoVerificado,
    EmpresaExtraida,
    EmpresaVerificada,
    ExtracaoEmpresas,
)

ENV = ("OPENAI_API_KEY", "AZURE_API_KEY", "AZURE_API_ENDPOINT", "AZURE_DEPLOYMENT_NAME", "QUILLON_PROVIDER")


@pytest.fixture(autouse=True)
def clean_env(monkeypatch):
    for name in ENV:
        monkeypatch.delenv(name, raising=False)


@pytest.mark.parametrize(
    ("status", "emoji"),
    [("aprovado", "✅"), ("reprovado", "❌"), ("pendente", "⚠️"), ("nao_verificado", "➖"), ("outro", "❓")],
)
def test_field_emoji_by_status(status, emoji):
    assert CampoVerificado(campo="CNPJ", status=status).emoji == emoji


def test_models_keep_what_they_are_given_and_dump_in_order():
    campo = CampoVerificado(campo="CNPJ", status="aprovado", valor_contrato="x", valor_receita=None, mensagem="ok")
    empresa = EmpresaVerificada(cnpj="11.222.333/0001-81", razao_social_contrato="A", campos=[campo])
    dumped = empresa.model_dump()
    assert list(dumped)[:3] == ["cnpj", "razao_social_contrato", "razao_social_receita"]
    assert dumped["campos"][0] == {
        "campo": "CNPJ", "status": "aprovado", "valor_contrato": "x", "valor_receita": None, "mensagem": "ok"}
    assert AssinaturaVerificada(nome_signatario="(não identificado)").tem_poder_assinatura is False


def test_extraction_models_ignore_unknown_keys():
    e = EmpresaExtraida(cnpj="1", razao_social="ACME", inventado="x")
    assert (e.cnpj, e.razao_social, e.endereco) == ("1", "ACME", None)
    assert ExtracaoEmpresas(empresas=[{"cnpj": "1"}]).empresas[0].cnpj == "1"


@pytest.mark.parametrize(
    ("kwargs", "env", "provider", "has_key"),
    [
        ({}, {}, "openai", False),
        ({"openai_api_key": "sk-x"}, {}, "openai", True),
        ({}, {"OPENAI_API_KEY": "sk-env"}, "openai", True),
        ({}, {"AZURE_API_KEY": "k", "AZURE_API_ENDPOINT": "https://e"}, "azure", False),  # no deployment
        ({}, {"AZURE_API_KEY": "k", "AZURE_API_ENDPOINT": "https://e", "AZURE_DEPLOYMENT_NAME": "d"}, "azure", True),
        ({"provider": "azure"}, {"OPENAI_API_KEY": "sk"}, "azure", False),
        ({"provider": "OpenAI"}, {}, "openai", False),
    ],
)
def test_provider_choice_and_keys(monkeypatch, kwargs, env, provider, has_key):
    for k, v in env.items():
        monkeypatch.setenv(k, v)
    auth = QuillonAuth(**kwargs)
    assert (auth.provider, auth.is_azure, auth.has_api_key) == (provider, provider == "azure", has_key)


def test_engine_kwargs_and_token_never_in_repr():
    auth = QuillonAuth(openai_api_key="sk-secret-123")
    assert auth.get_token() == "sk-secret-123"
    assert auth.get_quillon_kwargs() == {"provider": "openai", "api_key": "sk-secret-123"}
    assert "sk-secret" not in repr(auth)
    azure = QuillonAuth(azure_api_key="az-secret", azure_endpoint="https://e", azure_deployment="d", provider="azure")
    assert azure.get_quillon_kwargs()["azure_deployment"] == "d"
    assert "az-secret" not in repr(azure)


@pytest.mark.parametrize(("kwargs", "error"), [({"provider": "gemini"}, ValueError), ({"openai_api_key": 1}, TypeError)])
def test_bad_arguments(kwargs, error):
    with pytest.raises(error):
        QuillonAuth(**kwargs)
