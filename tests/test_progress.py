"""The progress bar: redrawn in place on a terminal, whole lines now and then in a log, nothing
where nobody asked for it; messages always on lines of their own."""

import io
import time

from quillon.progress import Progress


class Terminal(io.StringIO):
    def isatty(self):
        return True


def test_terminal_bar_of_items_is_cleared_for_other_output_and_drawn_again():
    out = Terminal()
    bar = Progress(3, "Verificando", stream=out)
    bar.advance()
    assert "Verificando" in out.getvalue() and "0/3" in out.getvalue()
    bar.clear()
    out.seek(0), out.truncate()
    bar.advance()
    assert "2/3" in out.getvalue() and "░" in out.getvalue() and "█" in out.getvalue()
    bar.close()
    assert out.getvalue().endswith("\r")  # the line is left empty for what follows
    bar.advance()  # after close: nothing more
    assert out.getvalue().endswith("\r")


def test_redraws_on_a_terminal_are_throttled():
    out = Terminal()
    with Progress(1_000_000, "x", stream=out) as bar:
        for _ in range(100_000):
            bar.advance()
    assert out.getvalue().count("\r") < 200


def test_items_bar_shows_only_on_a_terminal_and_only_for_more_than_one_item():
    plain, single = io.StringIO(), Terminal()
    for stream, total in ((plain, 5), (single, 1)):
        with Progress(total, "x", stream=stream) as bar:
            bar.advance()
            bar.message("uma mensagem")
    assert plain.getvalue() == single.getvalue() == "uma mensagem\n"


def test_a_total_known_only_later_still_shows_the_bar():
    out = Terminal()
    with Progress(0, "Lendo páginas", stream=out) as bar:
        bar.update(1, 4)
    assert "Lendo páginas" in out.getvalue() and "1/4" in out.getvalue()


def test_rows_bar_into_a_log_writes_whole_lines_now_and_then():
    log = io.StringIO()
    bar = Progress(1000, stream=log, rows=True, log_every=10.0)
    for _ in range(1000):
        bar.advance(1)
        bar.lines(7)
    bar.message("arquivo:2: linha malformada")
    assert log.getvalue() == "arquivo:2: linha malformada\n"  # nothing before ten seconds
    bar.finish()
    bar.close()
    lines = log.getvalue().splitlines()
    assert "\r" not in log.getvalue() and len(lines) == 2
    assert lines[1].startswith("[##############################] 100.0%  7 linhas")
    assert lines[1].endswith("linhas/s")


def test_rows_bar_into_a_log_once_the_interval_has_passed():
    log = io.StringIO()
    bar = Progress(10, stream=log, rows=True, log_every=0.05)
    bar.advance(5)
    time.sleep(0.1)
    bar.advance(1)
    bar.close()
    assert log.getvalue().startswith("[##################............]  60.0%")
    assert log.getvalue().count("\n") == 1 and "\r" not in log.getvalue()


def test_disabled_bar_still_writes_messages():
    out = Terminal()
    bar = Progress(10, stream=out, enabled=False, rows=True, log_every=10.0)
    bar.advance(5)
    bar.message("linha malformada")
    bar.finish()
    bar.close()
    assert out.getvalue() == "linha malformada\n"


def test_a_terminal_that_does_not_tell_its_size_still_gets_the_bar():
    import os
    import pty

    master, slave = pty.openpty()  # a new pseudo-terminal: 0 columns by 0 rows
    with os.fdopen(slave, "w", encoding="utf-8") as terminal:
        with Progress(3, "Verificando", stream=terminal) as bar:
            bar.advance()
        shown = os.read(master, 4096).decode()
    os.close(master)
    assert "Verificando" in shown and "0/3" in shown
