"""The cold/warm/hot/long harness (benchmarks/coldwarm.py) on tiny inputs,
velkan and tiktoken only, so that it keeps working between the full runs:
results for every row and regime, ids checked against tiktoken, an
inexact peer marked. No timing is asserted."""

import copy
import json
import os
import sys

import pytest

from reference import ROOT, VOCABULARIES

sys.path.insert(0, os.path.join(ROOT, "benchmarks"))
import coldwarm  # noqa: E402
import texts  # noqa: E402

TOOLS = ("velkan", "velkan count", "tiktoken")
ROWS = ("english", "cjk", "csv", "shell_perl", "short")
REGIMES = ("cold", "warm", "hot", "long cold", "long hot")


@pytest.fixture(scope="module")
def tiny():
    """Two documents of A and of B per row, and a long text of 30 KB made
    from a piece of every corpus."""
    rows = {row: (a[:2], b[:2]) for row, (a, b) in coldwarm.halves(ROWS).items()}
    corpora = texts.load_corpora(texts.ALL_CORPORA)
    long_text = "".join(texts.prefix_bytes(t, 3000) for t in corpora.values())
    return rows, long_text


def records(vocab, tiny):
    rows, long_text = tiny
    raw = {}
    for tool in TOOLS:
        done = {
            phase: coldwarm.child(
                tool, vocab, None, phase, ROWS, data=long_text if phase == "long" else rows
            )
            for phase in coldwarm.PHASES
        }
        raw[tool] = [coldwarm.merge(done)]
    return raw


@pytest.mark.parametrize("vocab", VOCABULARIES)
def test_every_row_and_regime_is_measured_and_exact(vocab, tiny):
    raw = records(vocab, tiny)
    results = coldwarm.summarize({vocab: raw}, ROWS, coldwarm.REGIMES)
    by_tool = results[vocab]
    for tool in TOOLS:
        entry = by_tool[tool]
        assert entry["exact"] is True, (tool, entry["exact_regimes"])
        assert sorted(entry["exact_regimes"]) == sorted(REGIMES)
        for row in ROWS:
            for regime in ("cold", "warm", "hot"):
                assert entry["rows"][row][regime + "_mb_s"] > 0, (tool, row, regime)
        assert entry["long"]["bytes"] == len(tiny[1].encode("utf-8"))
        assert entry["long"]["long_cold_mb_s"] > 0 and entry["long"]["long_hot_mb_s"] > 0
    # The counts agree with the number of tiktoken's ids, row by row.
    for row in ROWS:
        for regime in ("cold", "warm", "hot"):
            counted = raw["velkan count"][0]["rows"][row][regime]
            assert counted["check"] is None
            assert counted["tokens"] == raw["tiktoken"][0]["rows"][row][regime]["tokens"]
    # velkan's figures over tiktoken's (the only peer) in every row and regime.
    ratios = by_tool["velkan"]["ratios"]
    assert sorted(ratios) == sorted(ROWS + ("long",))
    assert sorted(ratios["long"]) == ["long_cold_mb_s", "long_hot_mb_s"]
    report = coldwarm.table(results)
    for row in ROWS:
        assert "| %s |" % row in report
    assert "long (0.0 MB; cold / hot)" in report
    assert not [line for line in report.splitlines() if line.startswith("|") and "*" in line]
    json.dumps(results)
    combined = coldwarm.combine([results, results])
    assert combined[vocab]["velkan"]["rows"] == by_tool["velkan"]["rows"]
    assert combined[vocab]["velkan"]["long"] == by_tool["velkan"]["long"]


def test_a_peer_with_other_ids_is_marked_in_that_regime(tiny):
    vocab = VOCABULARIES[0]
    raw = records(vocab, tiny)
    wrong = copy.deepcopy(raw["tiktoken"])
    wrong[0]["rows"]["csv"]["hot"]["check"] = "0" * 16
    wrong[0]["long"]["long cold"]["check"] = "0" * 16
    raw["other"] = wrong
    results = coldwarm.summarize({vocab: raw}, ROWS, coldwarm.REGIMES)
    other = results[vocab]["other"]
    assert other["exact"] is False
    assert {r for r, ok in other["exact_regimes"].items() if not ok} == {"hot", "long cold"}
    assert results[vocab]["tiktoken"]["exact"] is True
    report = coldwarm.table(results)
    csv_line = next(line for line in report.splitlines() if line.startswith("| csv |"))
    assert csv_line.count("*") == 1


def test_the_command_line_runs_a_subset(tmp_path, capsys):
    """Fresh pinned processes, through the options a short run uses."""
    path = tmp_path / "run.json"
    coldwarm.main(
        [
            "--quick",
            "--tools=velkan,tiktoken",
            "--vocabularies=cl100k_base",
            "--rows=csv",
            "--regimes=cold,hot,long",
            "--long-bytes=20000",
            "--json=%s" % path,
        ]
    )
    results = json.loads(path.read_text())["cl100k_base"]
    assert sorted(results) == ["tiktoken", "velkan"]
    for entry in results.values():
        assert entry["exact"] is True
        assert sorted(entry["exact_regimes"]) == ["cold", "hot", "long cold", "long hot"]
        assert sorted(entry["rows"]) == ["csv"]
        assert "warm_mb_s" not in entry["rows"]["csv"]
        assert entry["long"]["bytes"] == 20000
    assert "| csv |" in capsys.readouterr().out


def test_unknown_rows_are_refused():
    with pytest.raises(SystemExit, match="unknown rows nope"):
        coldwarm.main(["--rows=english,nope"])
