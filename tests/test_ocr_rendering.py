"""Page rendering: one page as a PNG image or as a one-page PDF."""

import pymupdf
import pytest

from ocr_helpers import (
    A4,
    LANDSCAPE,
    SCANNED_CONTRACT,
    TEXT_CONTRACT,
    PageSpec,
    decode,
    make_pdf,
    png_bytes,
    text_of_length,
)
from quillon import ocr

THREE_PAGES = make_pdf(["primeira página", PageSpec(text="segunda página", size=LANDSCAPE), "terceira página"])


@pytest.fixture
def doc():
    d = pymupdf.open(stream=THREE_PAGES, filetype="pdf")
    yield d
    d.close()


def direct_png(page, dpi):
    zoom = dpi / 72
    return page.get_pixmap(matrix=pymupdf.Matrix(zoom, zoom)).tobytes("png")


@pytest.mark.parametrize("dpi", [72, 150, 300])
def test_png_of_a_page_at_a_resolution(doc, dpi):
    png = ocr.render_page_as_image(doc, 0, dpi)
    img = decode(png)
    assert img.format == "PNG"
    assert img.mode == "RGB"  # the library's defaults: RGB, no alpha
    w, h = img.size
    assert abs(w - A4[0] * dpi / 72) <= 1 and abs(h - A4[1] * dpi / 72) <= 1
    if dpi == 72:
        assert img.size == A4  # one pixel per point
    assert png == direct_png(doc.load_page(0), dpi)


def test_default_resolution_is_150_dpi(doc):
    assert ocr.render_page_as_image(doc, 0) == ocr.render_page_as_image(doc, 0, 150)
    assert ocr.render_page_as_image(doc, page_num=2, dpi=150) == direct_png(doc.load_page(2), 150)


def test_landscape_page_gives_landscape_image(doc):
    w, h = decode(ocr.render_page_as_image(doc, 1, 72)).size
    assert (w, h) == LANDSCAPE
    assert w > h


def test_rendering_twice_gives_the_same_image_and_leaves_the_document_alone(doc):
    before = [doc.load_page(i).get_text() for i in range(doc.page_count)]
    assert ocr.render_page_as_image(doc, 2) == ocr.render_page_as_image(doc, 2)
    ocr.render_page_as_pdf(doc, 2)
    assert doc.page_count == 3
    assert not doc.is_closed
    assert [doc.load_page(i).get_text() for i in range(doc.page_count)] == before


@pytest.mark.parametrize("index", [0, 1, 2])
def test_one_page_pdf_keeps_the_text_layer(doc, index):
    data = ocr.render_page_as_pdf(doc, index)
    assert isinstance(data, bytes)
    with pymupdf.open(stream=data, filetype="pdf") as single:
        assert single.page_count == 1
        assert single.load_page(0).get_text() == doc.load_page(index).get_text()
        assert single.load_page(0).rect == doc.load_page(index).rect


@pytest.mark.parametrize("render", [ocr.render_page_as_image, ocr.render_page_as_pdf])
@pytest.mark.parametrize("index", [3, 4, 1000, 2**40])
def test_index_outside_the_document_is_the_library_error(doc, render, index):
    with pytest.raises(ValueError, match="page not in document"):
        render(doc, index)


def test_index_equal_to_page_count_is_not_clamped_to_the_last_page(doc):
    # The page-range copy alone would give the last page here.
    with pytest.raises(ValueError):
        ocr.render_page_as_pdf(doc, doc.page_count)


def test_negative_index_copies_exactly_that_page(doc):
    # The page-range copy alone would copy every page for -1.
    data = ocr.render_page_as_pdf(doc, -1)
    with pymupdf.open(stream=data, filetype="pdf") as single:
        assert single.page_count == 1
        assert single.load_page(0).get_text().strip() == "terceira página"
    assert ocr.render_page_as_image(doc, -1, 72) == ocr.render_page_as_image(doc, 2, 72)


@pytest.mark.parametrize(("page_num", "dpi", "same_as"), [(1.9, 72.9, (1, 72)), (True, 150.0, (1, 150))])
def test_numbers_are_truncated_toward_zero(doc, page_num, dpi, same_as):
    assert ocr.render_page_as_image(doc, page_num, dpi) == ocr.render_page_as_image(doc, *same_as)


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda d: ocr.render_page_as_image(d, "0"), r"render_page_as_image\(\) argument 'page_num' must be"),
        (lambda d: ocr.render_page_as_image(d, 0, "150"), r"render_page_as_image\(\) argument 'dpi' must be"),
        (lambda d: ocr.render_page_as_image(d, None), r"render_page_as_image\(\) argument 'page_num' must be"),
        (lambda d: ocr.render_page_as_pdf(d, "1"), r"render_page_as_pdf\(\) argument 'page_num' must be"),
        (lambda d: ocr.render_page_as_pdf(d), r"render_page_as_pdf\(\)"),
        (lambda d: ocr.render_page_as_image(d, 0, dpi=72, zoom=2), r"render_page_as_image\(\)"),
    ],
)
def test_argument_errors_name_function_and_parameter(doc, call, message):
    with pytest.raises(TypeError, match=message):
        call(doc)


def test_the_new_document_is_closed_also_when_copying_fails(doc, monkeypatch):
    made = []

    class Spy:
        Matrix = pymupdf.Matrix

        @staticmethod
        def open(*args, **kwargs):
            d = pymupdf.open(*args, **kwargs)
            made.append(d)
            return d

    monkeypatch.setattr(ocr, "fitz", Spy)
    ocr.render_page_as_pdf(doc, 0)
    assert len(made) == 1 and made[0].is_closed

    image_doc = pymupdf.open(stream=png_bytes(), filetype="png")  # not a PDF: no page copy
    with pytest.raises(RuntimeError, match="not a PDF"):
        ocr.render_page_as_pdf(image_doc, 0)
    assert len(made) == 2 and made[1].is_closed


def test_documentation_texts():
    assert ocr.render_page_as_image.__doc__.split("\n\n", 1)[1] == "Renderiza uma página como imagem PNG."
    assert ocr.render_page_as_pdf.__doc__.split("\n\n", 1)[1] == (
        "Extrai uma página como PDF de uma página, sem rasterizar.\n\n"
        "    O Gemini cobra PDF por página de documento (258 tokens), enquanto o mesmo\n"
        "    conteúdo rasterizado a 150 DPI vira 6 tiles de 768x768 (~1.548 tokens).\n    "
    )


@pytest.mark.parametrize(("path", "index"), [(TEXT_CONTRACT, 3), (SCANNED_CONTRACT, 0)])
def test_real_documents(path, index):
    with pymupdf.open(path) as d:
        png = ocr.render_page_as_image(d, index)
        page = d.load_page(index)
        assert png == direct_png(page, 150)
        w, h = decode(png).size
        assert abs(w - page.rect.width * 150 / 72) <= 2 and abs(h - page.rect.height * 150 / 72) <= 2
        with pymupdf.open(stream=ocr.render_page_as_pdf(d, index), filetype="pdf") as single:
            assert single.page_count == 1
            assert single.load_page(0).get_text() == page.get_text()


def test_long_text_page_survives_the_copy():
    text = text_of_length(3000)
    with pymupdf.open(stream=make_pdf([text]), filetype="pdf") as d:
        with pymupdf.open(stream=ocr.render_page_as_pdf(d, 0), filetype="pdf") as single:
            assert single.load_page(0).get_text().strip() == text
