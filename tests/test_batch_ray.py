"""Batches on a real Ray cluster of local processes (a head and a second node),
and the local pool through the same entry point: every contract reported
exactly once, a worker killed mid-batch included."""

import os
import pathlib
import shutil
import signal
import threading
import time

import pytest

from extraction_scoring import EXAMPLES, expected
from quillon import batch
from quillon.executors import LocalPool, RayCluster
from registry_backends import POSTGRES_URL

ray = pytest.importorskip("ray", reason='Ray is not installed (pip install "quillon[ray]"): its batches are not tested')

TEXT_SAMPLES = [name for name, s in expected().items() if not s["escaneado"]]


def contracts(folder, copies):
    """``copies`` of each text sample under distinct names, with their expected verdicts."""
    want = {}
    for k in range(copies):
        for name in TEXT_SAMPLES:
            path = folder / f"{k}_{name}"
            shutil.copy(EXAMPLES / name, path)
            want[str(path)] = expected()[name]["resultado_final"]
    return want


@pytest.fixture(scope="module")
def cluster():
    from ray.cluster_utils import Cluster

    nodes = Cluster(initialize_head=True, head_node_args={"num_cpus": 1, "include_dashboard": False})
    nodes.add_node(num_cpus=1)
    ray.init(address=nodes.address, log_to_driver=False)
    try:
        yield nodes
    finally:
        ray.shutdown()
        nodes.shutdown()


@pytest.fixture(scope="module")
def sample_registry_db(tmp_path_factory):
    from quillon.registry import open_store
    from quillon.registry.sample import build_sample

    path = tmp_path_factory.mktemp("registry") / "registry.sqlite3"
    store = open_store("sqlite", str(path))
    build_sample(store, progress=False, err=open(os.devnull, "w"))
    store.close()
    return str(path)


def test_a_registry_only_this_machine_has_is_refused_on_two_nodes(cluster, sample_registry_db, tmp_path):
    want = contracts(tmp_path, 1)
    options = batch.Options(provider="local", human=False,
                            environ={"QUILLON_REGISTRY_DB": sample_registry_db, "QUILLON_OFFLINE": "1"})
    with pytest.raises(batch.UserError, match="QUILLON_REGISTRY_URL"):
        list(batch.verificar_lote(list(want), RayCluster(cluster.address), options))


def _kill_first_running_task(killed: list, stop: threading.Event) -> None:
    """SIGKILL the first Ray worker process seen running a contract's task."""
    while not stop.is_set():
        for entry in pathlib.Path("/proc").iterdir():
            try:
                title = (entry / "cmdline").read_bytes().split(b"\0")[0]
            except OSError:
                continue
            if title.startswith(b"ray::_verify_task"):
                os.kill(int(entry.name), signal.SIGKILL)
                killed.append(int(entry.name))
                return
        time.sleep(0.02)


def test_every_contract_reported_once_after_a_worker_is_killed(cluster, monkeypatch, tmp_path):
    if not POSTGRES_URL:
        pytest.skip("no PostgreSQL server for the tests: QUILLON_TEST_POSTGRES_URL is not set "
                    "(make test starts one with tools/test_postgres.sh)")
    from registry_backends import _empty_postgres
    from quillon.registry.sample import build_sample

    store = _empty_postgres()
    build_sample(store, progress=False, err=open(os.devnull, "w"))
    store.close()
    want = contracts(tmp_path, 3)
    options = batch.Options(provider="local", human=False,
                            environ={"QUILLON_REGISTRY_URL": POSTGRES_URL, "QUILLON_OFFLINE": "1"})
    killed: list = []
    stop = threading.Event()
    killer = threading.Thread(target=_kill_first_running_task, args=(killed, stop), daemon=True)
    killer.start()
    try:
        outcomes = list(batch.verificar_lote(list(want), RayCluster(cluster.address), options))
    finally:
        stop.set()
        killer.join()
    assert killed, "no task was seen running"
    assert sorted(o.path for o in outcomes) == sorted(want)  # each once: none lost, none twice
    assert {o.path: (o.record or {}).get("resultado_final", o.error) for o in outcomes} == want
    assert all(o.record["arquivo"] == o.path for o in outcomes)


def test_the_local_pool_goes_on_past_a_file_that_fails(sample_registry_db, tmp_path):
    want = contracts(tmp_path, 1)
    (tmp_path / "nao_e_pdf.pdf").write_text("texto")
    options = batch.Options(provider="local", human=False,
                            environ={"QUILLON_REGISTRY_DB": sample_registry_db, "QUILLON_OFFLINE": "1"})
    outcomes = {o.path: o for o in batch.verificar_lote([str(tmp_path)], LocalPool(jobs=2), options)}
    assert sorted(outcomes) == sorted([*want, str(tmp_path / "nao_e_pdf.pdf")])
    assert "não é um PDF" in outcomes[str(tmp_path / "nao_e_pdf.pdf")].error
    assert {p: o.record["resultado_final"] for p, o in outcomes.items() if o.record} == want
