"""Page rendering: one page as a PNG image or as a one-page PDF."""

import pymupdf
import pytest

from ocr_helpers import A4, LANDSCAPE, SCANNED_CONTRACT, TEXT_CONTRACT, PageLayout, decode, make_pdf, png_bytes
from quillon import ocr

PDF = make_pdf(["primeira página", PageLayout(text="segunda página", size=LANDSCAPE), "terceira página"])


@pytest.fixture
def doc():
    with pymupdf.open(stream=PDF, filetype="pdf") as d:
        yield d


def direct_png(page, dpi):
    return page.get_pixmap(matrix=pymupdf.Matrix(dpi / 72, dpi / 72)).tobytes("png")


@pytest.mark.parametrize(("index", "size"), [(0, A4), (1, LANDSCAPE)])
@pytest.mark.parametrize("dpi", [72, 150, 300])
def test_png_of_a_page(doc, index, size, dpi):
    png = ocr.render_page_as_image(doc, index, dpi)
    img = decode(png)
    assert (img.format, img.mode) == ("PNG", "RGB")  # the library's defaults: RGB, no alpha
    assert all(abs(got - side * dpi / 72) <= 1 for got, side in zip(img.size, size))
    if dpi == 72:
        assert img.size == size  # one pixel per point
    assert png == direct_png(doc.load_page(index), dpi) == ocr.render_page_as_image(doc, index, dpi)


@pytest.mark.parametrize("index", [0, 1, 2, -1])
def test_one_page_pdf_keeps_the_text_layer_and_the_source_unchanged(doc, index):
    with pymupdf.open(stream=ocr.render_page_as_pdf(doc, index), filetype="pdf") as single:
        assert single.page_count == 1
        assert single.load_page(0).get_text() == doc.load_page(index).get_text()
    assert doc.page_count == 3 and not doc.is_closed
    texts = [doc.load_page(i).get_text().strip() for i in range(3)]
    assert texts == ["primeira página", "segunda página", "terceira página"]


def test_defaults_and_truncated_numbers(doc):
    assert ocr.render_page_as_image(doc, 0) == ocr.render_page_as_image(doc=doc, page_num=0, dpi=150)
    assert ocr.render_page_as_image(doc, 1.9, 72.9) == ocr.render_page_as_image(doc, True, 72)


@pytest.mark.parametrize("render", [ocr.render_page_as_image, ocr.render_page_as_pdf])
@pytest.mark.parametrize("index", [3, 1000, 2**40])
def test_index_outside_the_document_is_the_library_error(doc, render, index):
    # The page-range copy alone would clamp 3 to the last page.
    with pytest.raises(ValueError, match="page not in document"):
        render(doc, index)


def test_new_document_is_closed_also_when_the_copy_fails(doc, monkeypatch):
    made = []

    class Spy:
        @staticmethod
        def open(*args):
            made.append(pymupdf.open(*args))
            return made[-1]

    monkeypatch.setattr(ocr, "fitz", Spy)
    ocr.render_page_as_pdf(doc, 0)
    with pymupdf.open(stream=png_bytes(), filetype="png") as image_doc, pytest.raises(RuntimeError, match="not a PDF"):
        ocr.render_page_as_pdf(image_doc, 0)
    assert len(made) == 2 and all(d.is_closed for d in made)


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda d: ocr.render_page_as_image(d, "0"),
         r"render_page_as_image\(\) argument 'page_num' must be a real number, not str"),
        (lambda d: ocr.render_page_as_image(d, 0, None), r"render_page_as_image\(\) argument 'dpi' must be"),
        (lambda d: ocr.render_page_as_pdf(d, "1"), r"render_page_as_pdf\(\) argument 'page_num' must be"),
        (lambda d: ocr.render_page_as_pdf(d), r"render_page_as_pdf\(\)"),
        (lambda d: ocr.render_page_as_image(d, 0, zoom=2), r"render_page_as_image\(\)"),
    ],
)
def test_argument_errors(doc, call, message):
    with pytest.raises(TypeError, match=message):
        call(doc)


@pytest.mark.parametrize(("path", "index"), [(TEXT_CONTRACT, 3), (SCANNED_CONTRACT, 0)])
def test_real_documents(path, index):
    with pymupdf.open(path) as d:
        assert ocr.render_page_as_image(d, index) == direct_png(d.load_page(index), 150)
        with pymupdf.open(stream=ocr.render_page_as_pdf(d, index), filetype="pdf") as single:
            assert single.page_count == 1 and single.load_page(0).get_text() == d.load_page(index).get_text()
