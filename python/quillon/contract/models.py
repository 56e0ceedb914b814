"""Contract models: what the engine extracts and what the checker verifies.

Extraction models are filled from the engine's answers (unknown keys are
ignored, every field may be missing); verification models keep what the
checker gives them.  All are pydantic v2 models: ``model_dump()`` gives the
dictionary form that the verification result carries.
"""

from __future__ import annotations

from enum import Enum
from typing import Any, Dict, List, Optional

from pydantic import BaseModel, ConfigDict, Field

__all__ = [
    "EmpresaExtraida",
    "ExtracaoEmpresas",
    "AssinaturaExtraida",
    "ExtracaoAssinaturas",
    "ExtracaoDadosContrato",
    "CampoVerificado",
    "EmpresaVerificada",
    "AssinaturaVerificada",
    "ClassificacaoLegitimidade",
    "STATUS_EMOJI",
]


class _Extraido(BaseModel):
    """Lenient: an engine may add keys of its own, or leave any out."""

    model_config = ConfigDict(extra="ignore")


class EmpresaExtraida(_Extraido):
    """A company named in the contract."""

    cnpj: Optional[str] = Field(None, description="CNPJ como escrito no contrato")
    razao_social: Optional[str] = Field(None, description="Razão social")
    nome_fantasia: Optional[str] = Field(None, description="Nome fantasia")
    endereco: Optional[str] = Field(None, description="Endereço completo")
    papel_no_contrato: Optional[str] = Field(
        None, description="contratante, contratada, interveniente, fiadora..."
    )


class ExtracaoEmpresas(_Extraido):
    """Answer to the companies question."""

    empresas: List[EmpresaExtraida] = Field(default_factory=list)


class AssinaturaExtraida(_Extraido):
    """A person who signed the contract or represents a party."""

    nome_signatario: Optional[str] = Field(None, description="Nome completo")
    cargo: Optional[str] = Field(None, description="Cargo ou qualificação")
    cpf: Optional[str] = Field(None, description="CPF, se houver")
    empresa_representada: Optional[str] = Field(None, description="Empresa que representa")
    cnpj_empresa: Optional[str] = Field(None, description="CNPJ da empresa representada")
    tipo_assinatura: Optional[str] = Field(None, description="digital, manuscrita, testemunha...")


class ExtracaoAssinaturas(_Extraido):
    """Answer to the signatures question."""

    assinaturas: List[AssinaturaExtraida] = Field(default_factory=list)


class ExtracaoDadosContrato(_Extraido):
    """Answer to the contract-data question."""

    tipo_contrato: Optional[str] = None
    objeto: Optional[str] = None
    data: Optional[str] = None
    vigencia: Optional[str] = None
    valor: Optional[str] = None
    foro: Optional[str] = None


#: Symbol shown in reports for each field status.
STATUS_EMOJI: Dict[str, str] = {
    "aprovado": "✅",
    "reprovado": "❌",
    "pendente": "⚠️",
    "nao_verificado": "➖",
}


class CampoVerificado(BaseModel):
    """One verified field: its label, status, both values and a message."""

    campo: str
    status: str
    valor_contrato: Optional[Any] = None
    valor_receita: Optional[Any] = None
    mensagem: Optional[str] = None

    @property
    def emoji(self) -> str:
        """✅ aprovado, ❌ reprovado, ⚠️ pendente, ➖ não verificado (❓ otherwise)."""
        return STATUS_EMOJI.get(self.status, "❓")


class EmpresaVerificada(BaseModel):
    """A contract company after the registry check."""

    cnpj: Optional[str] = ""
    razao_social_contrato: Optional[str] = None
    razao_social_receita: Optional[str] = ""
    papel_no_contrato: Optional[str] = None
    campos: List[CampoVerificado] = Field(default_factory=list)
    cnpj_encontrado: bool = False
    cnpj_buscado_por_nome: bool = False
    empresa_ativa: bool = False
    razao_social_confere: bool = False
    socios: List[Dict[str, Any]] = Field(default_factory=list)
    problemas: List[str] = Field(default_factory=list)


class AssinaturaVerificada(BaseModel):
    """A signatory after the partner-list (QSA) check."""

    nome_signatario: str
    cargo: Optional[str] = None
    empresa_representada: Optional[str] = None
    cnpj_empresa: Optional[str] = None
    tipo_assinatura: Optional[str] = None
    campos: List[CampoVerificado] = Field(default_factory=list)
    tem_poder_assinatura: bool = False
    qualificacao_qsa: Optional[str] = None
    problemas: List[str] = Field(default_factory=list)
    #: What decided the "Poder de Assinatura" field when the checker
    #: corroborates signatures (``corroborar_assinaturas``): "cpf" (name and CPF
    #: agree), "nome" (the whole name), "nome_parcial" (only part of the name,
    #: no CPF to confirm it: pending), "cpf_divergente" (the CPFs differ),
    #: "nome_ausente" (nobody of that name in the QSA), "sem_cadastro" (no
    #: record to look in); None when the tolerant name rule alone decided.
    evidencia: Optional[str] = None


class ClassificacaoLegitimidade(str, Enum):
    """Final verdict of a contract verification."""

    APROVADO = "APROVADO"
    REPROVADO = "REPROVADO"
    PENDENTE = "PENDENTE"
