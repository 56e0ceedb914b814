"""Scanned pages read by Tesseract processes several at a time: page order kept,
readings stopped when the caller has what it needs or dies, screening of a
scanned document stopped as soon as its verdict is settled."""

import json
import os
import pathlib
import signal
import subprocess
import sys
import time

import pymupdf
import pytest

from quillon.engine.documents import read_document, tesseract_available
from ocr_helpers import SCANNED_CONTRACT
from quillon.engine.tesseract_pages import PageNotRead, read_pages

pytestmark = pytest.mark.skipif(not tesseract_available(), reason="Tesseract with Portuguese data not installed")



def scanned_pdf(path, pages):
    """A PDF whose pages are pictures of the given texts (no text layer), as a scanner makes them."""
    with pymupdf.open() as out:
        for text in pages:
            with pymupdf.open() as source:
                page = source.new_page(width=420, height=300)
                page.insert_textbox(pymupdf.Rect(30, 30, 400, 280), text, fontsize=14)
                picture = page.get_pixmap(dpi=150, colorspace=pymupdf.csGRAY)
            out.new_page(width=420, height=300).insert_image(pymupdf.Rect(0, 0, 420, 300), pixmap=picture)
        out.save(path)
    return str(path)


def tesseract_children(pid):
    """Tesseract processes whose parent is ``pid``."""
    found = []
    for entry in pathlib.Path("/proc").iterdir():
        try:
            stat = (entry / "stat").read_text()
        except (OSError, ValueError):
            continue
        name, rest = stat[stat.index("(") + 1:stat.rindex(")")], stat[stat.rindex(")") + 2:].split()
        if name == "tesseract" and int(rest[1]) == pid and rest[0] != "Z":
            found.append(int(entry.name))
    return found


WORDS = ["PRIMEIRA PAGINA DO CONTRATO", "SEGUNDA PAGINA COM CLAUSULAS", "TERCEIRA PAGINA DO FORO",
         "QUARTA PAGINA DAS ASSINATURAS"]


def test_pages_read_on_several_cores_come_back_in_page_order(tmp_path):
    path = scanned_pdf(tmp_path / "digitalizado.pdf", [f"{w}\n{w.lower()} " * (i + 1) for i, w in enumerate(WORDS)])
    together = read_document(path, workers=3)
    one_by_one = read_document(path, workers=1)
    assert [p.source for p in together.pages] == ["tesseract"] * 4 and together.complete
    assert [p.text for p in together.pages] == [p.text for p in one_by_one.pages]
    for page, words in zip(together.pages, WORDS):
        assert words in page.text, (page.number, page.text)


def test_readings_stop_when_the_caller_stops_or_a_page_takes_too_long(tmp_path):
    path = scanned_pdf(tmp_path / "digitalizado.pdf", WORDS * 2)
    with pymupdf.open(path) as doc:
        readings = read_pages(doc, list(range(1, 9)), dpi=300, language="por", workers=2)
        number, text = next(readings)
        assert number == 1 and "PRIMEIRA" in text
        readings.close()
        assert tesseract_children(os.getpid()) == []
        [(number, late)] = list(read_pages(doc, [2], dpi=300, language="por", timeout=0.01))
    assert number == 2 and isinstance(late, PageNotRead) and "não terminou a leitura da página" in str(late)
    assert tesseract_children(os.getpid()) == []


def test_a_reader_killed_mid_document_leaves_no_tesseract_running(tmp_path):
    path = scanned_pdf(tmp_path / "digitalizado.pdf", WORDS * 3)
    reader = subprocess.Popen([sys.executable, "-c", (
        "import sys; from quillon.engine.documents import read_document; "
        "read_document(sys.argv[1], workers=2)"), path])
    deadline = time.monotonic() + 30
    readers = tesseract_children(reader.pid)
    while not readers and time.monotonic() < deadline:  # the readers seen, not a second look: a page may end
        time.sleep(0.05)
        readers = tesseract_children(reader.pid)
    assert readers, "the reader started no Tesseract"
    reader.send_signal(signal.SIGKILL)
    reader.wait()
    deadline = time.monotonic() + 5
    while any(pathlib.Path(f"/proc/{pid}").exists() and _alive(pid) for pid in readers):
        assert time.monotonic() < deadline, "a Tesseract reading outlived its reader"
        time.sleep(0.05)


def _alive(pid):
    try:
        return pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def triagem(path):
    done = subprocess.run([sys.executable, "-m", "quillon", "triagem", str(path), "--json"],
                          capture_output=True, text=True, timeout=600)
    assert done.returncode in (0, 1), done.stderr
    return json.loads(done.stdout)


def test_screening_reads_a_scanned_document_only_until_its_verdict_is_settled(tmp_path):
    # Another document's title on the first page settles it: the rest is not read.
    notice = scanned_pdf(tmp_path / "termo.pdf", ["TERMO DE REFERENCIA\n\n1. DO OBJETO\ncontratação de serviços",
                                                  *WORDS])
    verdict = triagem(notice)
    assert (verdict["eh_contrato"], verdict["motivo"], verdict["paginas_lidas"], verdict["paginas"]) == (
        False, "exclusao", 1, 5)
    # Untitled pages leave it open until the opening pages have been read.
    untitled = scanned_pdf(tmp_path / "sem_titulo.pdf", ["Secretaria de Administracao\nvalor e vigencia", *WORDS])
    verdict = triagem(untitled)
    assert (verdict["eh_contrato"], verdict["paginas_lidas"]) == (False, 2)


def test_a_real_scanned_contract_is_screened_on_its_first_page():
    verdict = triagem(SCANNED_CONTRACT)
    assert (verdict["eh_contrato"], verdict["motivo"], verdict["paginas_lidas"], verdict["paginas"]) == (
        True, "titulo", 1, 8)


def test_ctrl_c_stops_the_reading_at_once(tmp_path):
    path = scanned_pdf(tmp_path / "digitalizado.pdf", WORDS * 3)
    reader = subprocess.Popen([sys.executable, "-m", "quillon", "ocr", path], stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, start_new_session=True)
    deadline = time.monotonic() + 30
    readers = tesseract_children(reader.pid)
    while not readers and time.monotonic() < deadline:  # the readers seen, not a second look: a page may end
        time.sleep(0.05)
        readers = tesseract_children(reader.pid)
    assert readers, "the reader started no Tesseract"
    os.killpg(reader.pid, signal.SIGINT)  # Ctrl-C reaches the terminal's whole process group
    status = reader.wait(timeout=5)
    assert status == 130, reader.stderr.read().decode("utf-8", "replace")
    assert not any(_alive(pid) for pid in readers)
