"""The sample registry: the companies of the published registry answers, as open-data files.

The files in ``sample/`` are written by ``tools/gen_registry_sample.py`` from
the answers of BrasilAPI, ReceitaWS and CNPJá kept beside the tests (the
mapping, field by field, is documented there). ``build_sample`` imports them
like any release: ``quillon registry sample``.
"""

from __future__ import annotations

import pathlib

from quillon.registry.importer import ImportReport, import_folder
from quillon.registry.store import RegistryStore

SAMPLE_DIR = pathlib.Path(__file__).resolve().parent / "sample"

#: The CNPJs in the sample, by the service whose answer they came from.
SAMPLE_CNPJS = {
    "BrasilAPI": ("06990590000123", "19131243000197", "08942107000160"),
    "ReceitaWS": ("27865757000102", "03413465000162", "03420926004979"),
    "CNPJá": ("07526557011659",),
}


def build_sample(store: RegistryStore, **options) -> ImportReport:
    """Import the sample files into `store`."""
    return import_folder(store, SAMPLE_DIR, **options)
