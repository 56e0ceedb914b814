"""atheris fuzz targets for the compiled text functions.

Each target builds text from the fuzzer's bytes (table words, address words,
white space and punctuation of every kind, combining marks, sigma, arbitrary
code points of all three string widths), calls the compiled function, and
checks its answer against the plain-Python formulation of the same rules
whenever the text holds only code points this Python's Unicode database
assigns (the core's data may be newer).  Any other input must still give an
answer or the documented TypeError, never a crash.

    python fuzz/text_targets.py <target> [libFuzzer options, e.g. -max_total_time=30]
    python fuzz/text_targets.py --list

`make fuzz` runs every target against extension modules built with
AddressSanitizer and UBSan.
"""

from __future__ import annotations

import pathlib
import sys
import unicodedata

import atheris

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))

import hypothesis.strategies  # noqa: F401  (imported uninstrumented: only the oracles are)

with atheris.instrument_imports():
    import text_oracles as oracle
    from text_strategies import ADDRESS_FORMS, KEYWORD_FORMS, SPECIAL

from quillon.contract.countries.br import cnpj, keywords

print(f"fuzzing {keywords.__file__} and {cnpj.__file__}", file=sys.stderr)

TOKENS = KEYWORD_FORMS + ADDRESS_FORMS + SPECIAL


@atheris.instrument_func
def make_text(fdp: atheris.FuzzedDataProvider, max_pieces: int = 24) -> str:
    parts = []
    for _ in range(fdp.ConsumeIntInRange(0, max_pieces)):
        kind = fdp.ConsumeIntInRange(0, 3)
        if kind == 0:
            parts.append(fdp.PickValueInList(TOKENS))
        elif kind == 1:
            parts.append(fdp.ConsumeUnicode(fdp.ConsumeIntInRange(1, 6)))
        elif kind == 2:
            parts.append(chr(fdp.ConsumeIntInRange(0x80, 0x2FFF)))
        else:
            parts.append(chr(fdp.ConsumeIntInRange(0, 0x10FFFF)))
    return "".join(parts)


@atheris.instrument_func
def comparable(text: str) -> bool:
    """Whether the oracle's Unicode data covers every code point of text."""
    return all(unicodedata.category(c) not in ("Cn", "Cs") for c in text)


@atheris.instrument_func
def fuzz_normalizar_texto(data: bytes) -> None:
    text = make_text(atheris.FuzzedDataProvider(data))
    got = keywords.normalizar_texto(text)
    if comparable(text):
        assert got == oracle.fold(text), (text, got)


@atheris.instrument_func
def fuzz_validar_documento_contrato(data: bytes) -> None:
    fdp = atheris.FuzzedDataProvider(data)
    custom = fdp.ConsumeBool()
    validacao = exclusao = None
    if custom:
        validacao = [make_text(fdp, 3) for _ in range(fdp.ConsumeIntInRange(0, 6))]
        exclusao = [make_text(fdp, 3) for _ in range(fdp.ConsumeIntInRange(0, 3))]
        if fdp.ConsumeIntInRange(0, 15) == 0:
            validacao.append(fdp.ConsumeInt(2))  # not text: an error for the caller
    text = make_text(fdp)
    saved = keywords.KEYWORDS_VALIDACAO, keywords.KEYWORDS_EXCLUSAO
    try:
        if custom:
            keywords.KEYWORDS_VALIDACAO, keywords.KEYWORDS_EXCLUSAO = validacao, exclusao
        got = keywords.validar_documento_contrato(text)
    except TypeError:
        assert text and not all(isinstance(v, str) for v in validacao or []), (text, validacao)
        return
    finally:
        keywords.KEYWORDS_VALIDACAO, keywords.KEYWORDS_EXCLUSAO = saved
    if not text:  # the tables are not read
        assert got == (False, 0, []), got
        return
    assert all(isinstance(v, str) for v in validacao or []), ("no TypeError", text, validacao)
    if comparable(text + "".join(validacao or []) + "".join(exclusao or [])):
        if custom:
            assert got == oracle.validar(text, validacao, exclusao), (text, validacao, exclusao, got)
        else:
            assert got == oracle.validar(text), (text, got)


@atheris.instrument_func
def fuzz_normalizar_endereco(data: bytes) -> None:
    text = make_text(atheris.FuzzedDataProvider(data))
    got = cnpj._normalizar_endereco(text)
    if comparable(text):
        assert got == oracle.normalizar_endereco(text), (text, got)


@atheris.instrument_func
def fuzz_comparar_enderecos(data: bytes) -> None:
    fdp = atheris.FuzzedDataProvider(data)
    contrato = make_text(fdp, 10)
    endereco = {}
    for key in oracle.ADDRESS_KEYS:
        if fdp.ConsumeBool():
            endereco[key] = None if fdp.ConsumeIntInRange(0, 7) == 0 else make_text(fdp, 4)
    threshold = fdp.ConsumeFloatInRange(0.0, 1.0)
    dados = {"endereco": endereco}
    if contrato and fdp.ConsumeIntInRange(0, 15) == 0:
        # A part that is not text: the error must reach the caller.
        endereco[fdp.PickValueInList(list(oracle.ADDRESS_KEYS))] = fdp.ConsumeInt(2)
        try:
            cnpj.comparar_enderecos(contrato, dados, threshold)
        except TypeError:
            return
        raise AssertionError(("no TypeError", contrato, endereco))
    got = cnpj.comparar_enderecos(contrato, dados, threshold)
    if comparable(contrato + "".join(v or "" for v in endereco.values())):
        assert got == oracle.comparar_enderecos(contrato, dados, threshold), (contrato, endereco, threshold, got)


_CHECKER = None
CPF_FORMS = ["100.133.807-37", "123.456.789-09", "12345678909", "***133807**", "***456789**", "***000000**",
             "06947283000160", "*", "-", "."]


@atheris.instrument_func
def make_cpf(fdp: atheris.FuzzedDataProvider) -> str:
    return fdp.PickValueInList(CPF_FORMS) if fdp.ConsumeBool() else make_text(fdp, 3)


@atheris.instrument_func
def fuzz_corroborated_signature(data: bytes) -> None:
    global _CHECKER
    from quillon.contract.checker import ContractChecker
    from quillon.contract.models import AssinaturaExtraida

    if _CHECKER is None:
        _CHECKER = ContractChecker("BR", provider="local", verbose=False)
        _CHECKER.corroborar_assinaturas = True
    fdp = atheris.FuzzedDataProvider(data)
    nome, cpf = make_text(fdp, 6), make_cpf(fdp)
    socios = [{"nome": make_text(fdp, 6), "cnpj_cpf_do_socio": make_cpf(fdp), "qualificacao": "Sócio",
               "nome_representante": make_text(fdp, 4) if fdp.ConsumeBool() else "",
               "cpf_representante": make_cpf(fdp), "qualificacao_representante": "Procurador"}
              for _ in range(fdp.ConsumeIntInRange(0, 3))]
    signature = AssinaturaExtraida(nome_signatario=nome, cpf=cpf, cnpj_empresa="06990590000123")
    [got] = _CHECKER._validar_assinaturas([signature], {"06990590000123": {"socios": socios}})
    texts = nome + cpf + "".join(s["nome"] + s["nome_representante"] + s["cnpj_cpf_do_socio"] + s["cpf_representante"]
                                 for s in socios)
    if nome and nome != "N/A" and comparable(texts):
        assert got.evidencia == oracle.evidencia(nome, cpf, socios), (nome, cpf, socios, got.evidencia)


TARGETS = {
    "normalizar_texto": fuzz_normalizar_texto,
    "corroborated_signature": fuzz_corroborated_signature,
    "validar_documento_contrato": fuzz_validar_documento_contrato,
    "_normalizar_endereco": fuzz_normalizar_endereco,
    "comparar_enderecos": fuzz_comparar_enderecos,
}


def main() -> None:
    if len(sys.argv) < 2 or sys.argv[1] not in TARGETS:
        if len(sys.argv) >= 2 and sys.argv[1] == "--list":
            print("\n".join(TARGETS))
            return
        sys.exit(f"usage: {sys.argv[0]} {{{','.join(TARGETS)}}} [libFuzzer options]")
    target = TARGETS[sys.argv[1]]
    atheris.Setup([sys.argv[0]] + sys.argv[2:], target)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
