"""A multi-file Parquet and JSON lines dataset counted and tokenized on a
Dask cluster of two worker processes over TCP on the loopback address: the
results equal the single-process ones. The README's "On a cluster" recipe."""

import json
import os

import pytest
from sizes import CHECKED

from reference import corpus
from velkan import cli, get_encoding
from velkan.cli import cluster

dd = pytest.importorskip("dask.dataframe")
db = pytest.importorskip("dask.bag")
distributed = pytest.importorskip("distributed")
pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")

pytestmark = [
    pytest.mark.timeout(120),
    # Worker processes under the preloaded sanitizer runtime take minutes to
    # start; the native calls they make are the single-process tests' own.
    pytest.mark.skipif(CHECKED, reason="worker processes are too slow under the sanitizer"),
]

ENC = "o200k_base"


@pytest.fixture(scope="module")
def dataset(tmp_path_factory):
    """Three Parquet shards and three JSON lines shards of the same texts,
    with Spark's _SUCCESS marker beside them."""
    root = tmp_path_factory.mktemp("dataset")
    texts = [p for t in corpus().values() for p in t.split("\n\n")[:30] if p]
    shards = [texts[i::3] for i in range(3)]
    (root / "parquet").mkdir()
    (root / "jsonl").mkdir()
    for i, shard in enumerate(shards):
        pq.write_table(pa.table({"text": shard}), root / "parquet" / ("part-%d.parquet" % i))
        with open(root / "jsonl" / ("part-%d.jsonl" % i), "w") as f:
            for t in shard:
                f.write(json.dumps({"text": t}) + "\n")
    (root / "parquet" / "_SUCCESS").write_text("")
    return root, [t for shard in shards for t in shard]


@pytest.fixture(scope="module")
def client():
    dask_cluster = distributed.LocalCluster(
        n_workers=2,
        threads_per_worker=1,
        processes=True,
        host="127.0.0.1",
        protocol="tcp",
        dashboard_address=None,
        memory_limit="2GiB",
    )
    with dask_cluster, distributed.Client(dask_cluster) as c:
        yield c


def test_cluster_is_two_processes_over_tcp(client):
    workers = client.scheduler_info()["workers"]
    assert len(workers) == 2
    assert all(address.startswith("tcp://127.0.0.1:") for address in workers)
    pids = set(client.run(os.getpid).values())
    assert len(pids) == 2 and os.getpid() not in pids


def test_dataframe_counts_and_tokens_equal_one_process(client, dataset):
    root, texts = dataset
    enc = get_encoding(ENC)  # pickles by name: each worker builds its own once
    df = dd.read_parquet(str(root / "parquet"))
    assert df.npartitions == 3

    counts = df["text"].map_partitions(
        lambda s: s.map(enc.count) if len(s) else s.astype("int64"), meta=("text", "int64")
    )
    assert counts.compute().tolist() == enc.count_batch(texts)
    assert counts.sum().compute() == sum(enc.count_batch(texts))

    def tokens(part):
        return part.assign(ids=enc.encode_ordinary_batch(part["text"].tolist()))

    ids = df.map_partitions(tokens, meta={"text": "object", "ids": "object"}).compute()
    assert [list(x) for x in ids["ids"]] == enc.encode_ordinary_batch(texts)


def test_bag_counts_and_tokens_equal_one_process(client, dataset):
    root, texts = dataset
    enc = get_encoding(ENC)
    bag = db.read_text(str(root / "jsonl" / "*.jsonl")).map(json.loads).pluck("text")
    assert bag.map_partitions(enc.count_batch).sum().compute() == sum(enc.count_batch(texts))
    expected = enc.encode_ordinary_batch(texts)
    tokens = bag.map_partitions(lambda part: enc.encode_ordinary_batch(list(part)))
    assert tokens.compute() == expected
    # Arrow arrays travel between processes too.
    arrays = bag.map_partitions(
        lambda part: [enc.encode_batch_to_arrow(list(part), disallowed_special=())]
    ).compute()
    assert [ids for a in arrays for ids in a.to_pylist()] == expected


def test_cli_counts_on_an_existing_cluster(client, dataset, monkeypatch, capsys, tmp_path):
    root, texts = dataset
    # Small parts: one JSON lines file is counted by several tasks, and the
    # line numbers of bad records still count from the file's start.
    monkeypatch.setattr(cluster, "PART_BYTES", 4096)
    broken = tmp_path / "broken.jsonl"
    lines = [json.dumps({"text": t}) for t in texts[:40]]
    lines[30] = '{"text": 1}'
    broken.write_text("\n".join(lines) + "\n")
    (tmp_path / "plain.txt").write_text(texts[0])
    inputs = [str(root / "parquet"), str(root / "jsonl"), str(broken)]
    args = ["count", "-r", "--json", "--field", "text", "--column", "text"]
    status = cli.main(args + ["--scheduler", client.scheduler.address] + inputs)
    out = capsys.readouterr()
    local = cli.main(args + inputs)
    expected = json.loads(capsys.readouterr().out)
    assert status == local == 1
    assert json.loads(out.out) == expected
    assert "broken.jsonl: line 31: field 'text' is a number, not a string" in out.err
    enc = get_encoding(ENC)
    assert expected["total"] == 2 * sum(enc.count_batch(texts)) + sum(
        enc.count_batch(texts[:30] + texts[31:40])
    )
    # Plain text too, a file per task.
    assert (
        cli.main(["count", "--scheduler", client.scheduler.address, str(tmp_path / "plain.txt")])
        == 0
    )
    assert capsys.readouterr().out.split()[0] == str(enc.count(texts[0]))


def test_a_failed_task_is_the_input_error_not_a_traceback(client, monkeypatch, capsys, tmp_path):
    def lost(*args):
        raise RuntimeError("worker lost")

    monkeypatch.setattr(cluster, "count_part", lost)  # shipped by value to the worker
    (tmp_path / "a.txt").write_text("x")
    status = cli.main(["count", "--scheduler", client.scheduler.address, str(tmp_path / "a.txt")])
    err = capsys.readouterr().err
    assert status == 1 and "a.txt: the cluster failed to count it (worker lost)" in err


def test_unreachable_scheduler_is_a_clear_error(capsys, tmp_path, monkeypatch):
    monkeypatch.setattr(cluster, "SCHEDULER_TIMEOUT", 2.0)
    (tmp_path / "a.txt").write_text("x")
    status = cli.main(["count", "--scheduler", "tcp://127.0.0.1:9", str(tmp_path / "a.txt")])
    err = capsys.readouterr().err
    assert status == 1 and "cannot reach the Dask scheduler at tcp://127.0.0.1:9" in err
