# The Python module: the README's example gives the numbers of `traz --format json`, errors
# carry the command line's message and place, sweeps are rows, and evaluations run without
# the GIL. Run through CTest, which sets PYTHONPATH, TRAZ_BIN and TRAZ_SOURCE_DIR.
import csv
import io
import json
import math
import os
import re
import subprocess
import sys
import threading

import pytest

import traz

SOURCE = os.environ["TRAZ_SOURCE_DIR"]
TRAZ = os.environ["TRAZ_BIN"]
TWO_STAGE = os.path.join(SOURCE, "examples", "two-stage.deck")
THREE_STAGE = os.path.join(SOURCE, "examples", "three-stage.deck")
QUANTITIES = ["expected_criterion_score", "selection_rate_group1", "selection_rate_group2",
              "ai_ratio", "sd_average_criterion_score", "proportion_selected"]


def command_line_json(deck_text, tmp_path):
    path = tmp_path / "design.deck"
    path.write_text(deck_text)
    out = subprocess.run([TRAZ, "--format", "json", str(path)], capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def same(a, b):
    return a == b or (isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b))


def same_row(a, b, leave_out=("cpu_seconds",)):
    keys = [k for k in a if k not in leave_out]
    return keys == [k for k in b if k not in leave_out] and all(same(a[k], b[k]) for k in keys)


def expect_command_line_numbers(result, tmp_path):
    """Every result and bound of `result` is what traz --format json prints for its design."""
    printed = command_line_json(result.design.to_deck(), tmp_path)["results"]
    for q in QUANTITIES:
        if printed[q] is None:
            assert math.isnan(getattr(result, q)), q
            continue
        assert getattr(result, q) == printed[q]["value"], q
        assert getattr(result, f"{q}_error") == printed[q]["error_bound"], q
    assert result.target_selection_ratio == printed["target_selection_ratio"]


def readme_block(language):
    text = open(os.path.join(SOURCE, "README.md")).read()
    section = text.split("## From Python" if language == "python" else "## From R")[1]
    return re.search(r"```" + language + r"\n(.*?)```", section, re.S).group(1)


def test_readme_example_gives_the_command_line_numbers(tmp_path, monkeypatch):
    pytest.importorskip("pandas")
    pytest.importorskip("matplotlib")
    evaluated = []
    evaluate = traz.evaluate

    def recording(*args, **kwargs):
        evaluated.append(evaluate(*args, **kwargs))
        return evaluated[-1]

    monkeypatch.setattr(traz, "evaluate", recording)
    monkeypatch.chdir(tmp_path)
    namespace = {}
    exec(readme_block("python"), namespace)

    assert len(evaluated) == 11
    assert (tmp_path / "weights-python.png").stat().st_size > 10000
    table = namespace["results"]
    for i, r in enumerate(evaluated):
        expect_command_line_numbers(r, tmp_path)
        assert r.design.weights[1] == [1 - table.t[i], 1 - table.t[i], table.t[i], table.t[i]]
        for q in QUANTITIES:  # what the data frame shows is what was computed
            assert same(table[q][i], getattr(r, q)) and same(table[q + "_error"][i], getattr(r, q + "_error"))


def test_designs_read_built_and_written_back_agree(tmp_path):
    read = traz.read_deck(TWO_STAGE)
    built = traz.Design(validities=read.validities, correlations=read.correlations,
                        effect_sizes=read.effect_sizes, weights=read.weights, retained=read.retained,
                        applicants=100, proportion=0.75, criterion_effect=0.3)
    again = traz.Design.from_deck(built.to_deck())
    r = traz.evaluate(read)
    expect_command_line_numbers(r, tmp_path)
    for other in (traz.evaluate(built), traz.evaluate(again)):
        assert same_row(other.to_dict(), r.to_dict())
    assert read.replace(proportion=0.5).proportion == 0.5 and read.proportion == 0.75


def test_errors_carry_the_message_and_place(tmp_path):
    # A deck file: the message traz prints on standard error, with its line.
    bad = tmp_path / "bad.deck"
    bad.write_text(open(TWO_STAGE).read().replace("30 10", "100 10", 1))
    printed = subprocess.run([TRAZ, str(bad)], capture_output=True, text=True).stderr.strip()
    with pytest.raises(traz.Error) as e:
        traz.evaluate(traz.read_deck(str(bad)))
    assert f"traz: {bad}: {e.value}" == printed
    assert (e.value.statement, e.value.item, e.value.line, e.value.outcome) == (1, 4, 1, "refused")
    assert "stage 1 keeps all 100 applicants" in e.value.message and isinstance(e.value, ValueError)

    # The same design built in code: no line to name.
    with pytest.raises(traz.Error) as e:
        traz.evaluate(traz.read_deck(TWO_STAGE), retained=[100, 10])
    assert (e.value.statement, e.value.item, e.value.line) == (1, 4, 0) and "line" not in str(e.value)

    # Beyond the classic limits; fields that do not fit; a deck that cannot be read; wrong kinds.
    with pytest.raises(traz.Error, match=r"11 predictors \(at most 10\)") as e:
        traz.evaluate(validities=[0.2] * 11, correlations=[[float(i == j) for j in range(11)] for i in range(11)],
                      effect_sizes=[0.1] * 11, weights=[[1] * 11], retained=[10], applicants=50)
    assert e.value.outcome == "refused_after_echo"
    with pytest.raises(traz.Error, match="stage 2 has 3 weights for 4 predictors") as e:
        traz.evaluate(traz.read_deck(TWO_STAGE), weights=[[1, 1, 0, 0], [1, 1, 1]])
    assert (e.value.statement, e.value.outcome) == (2, "design")
    with pytest.raises(traz.Error, match="on line 1") as e:
        traz.Design.from_deck("4 2 x\n")
    assert e.value.line == 1
    with pytest.raises(TypeError, match="retained: 10.5 is not a whole number"):
        traz.Design(retained=[30, 10.5])
    with pytest.raises(TypeError, match="unexpected keyword argument 'weight'"):
        traz.evaluate(traz.read_deck(TWO_STAGE), weight=[1, 1, 1, 1])


def test_sweep_rows_are_the_evaluations_of_their_points():
    base = traz.read_deck(TWO_STAGE)
    rows = traz.sweep(base, ["pg=0.005,0.6"], jobs=2)
    assert [(row["point"], row["pg"], row["outcome"]) for row in rows] == \
        [(1, 0.005, "refused"), (2, 0.6, "computed")]
    assert "proportion" in rows[0]["diagnostic"] and math.isnan(rows[0]["ai_ratio"])
    assert same_row(rows[1], traz.evaluate(base, proportion=0.6).to_dict(), ("point", "pg", "cpu_seconds"))
    with pytest.raises(traz.Error, match="sweep:"):
        traz.sweep(base, "nosuch=1:2:1")


def test_other_threads_run_while_evaluate_computes():
    # With no forced switches, a thread that keeps the GIL lets no other Python thread run
    # until it returns: the ticker below ticks during the evaluation only if evaluate let go.
    design = traz.read_deck(THREE_STAGE)
    ticks, stop = [0], threading.Event()

    def ticker():
        while not stop.is_set():
            ticks[0] += 1
            stop.wait(0.001)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(100.0)
    thread = threading.Thread(target=ticker)
    try:
        thread.start()
        stop.wait(0.05)
        before = ticks[0]
        result = traz.evaluate(design)
        during = ticks[0] - before
    finally:
        stop.set()
        thread.join()
        sys.setswitchinterval(interval)
    assert result.outcome == "computed" and during > 0


def command_line(args, tmp_path, **decks):
    """The JSON (or CSV rows) that traz prints for the given subcommand on the designs' decks."""
    paths = {}
    for name, design in decks.items():
        paths[name] = tmp_path / f"{name}.deck"
        paths[name].write_text(design.to_deck())
    out = subprocess.run([TRAZ] + [str(paths.get(a, a)) for a in args], capture_output=True, text=True)
    return out.stdout if "csv" in args else json.loads(out.stdout)


def test_simulate_gives_the_command_line_numbers_on_any_threads_and_agrees_with_evaluate(tmp_path):
    design = traz.read_deck(TWO_STAGE)
    one, two = (traz.simulate(design, replications=20000, seed=7, jobs=j) for j in (1, 2))
    assert same_row(one.to_dict(), two.to_dict(), leave_out=())
    row = one.to_dict()
    printed = command_line(["simulate", "d", "--replications", "20000", "--seed", "7", "--format", "json"],
                           tmp_path, d=design)
    quantiles = printed["quantiles"]
    expected = dict(printed["results"], seed=7, undefined_ratio_replications=printed["undefined_ratio_replications"],
                    z_undefined_replications=printed["z_undefined_replications"],
                    **{f"{q}_q{p}": v for q in ("mean_criterion_score", "impact_ratio")
                       for p, v in zip(("05", "50", "95"), quantiles[q])})
    assert sorted(row) == sorted(expected) and all(row[k] == expected[k] for k in row)
    assert one.p_fisher == row["p_fisher"] and one.impact_ratio_quantiles == quantiles["impact_ratio"]

    exact = traz.evaluate(design)
    for q in ("expected_criterion_score", "selection_rate_group1", "selection_rate_group2", "ai_ratio",
              "sd_average_criterion_score"):
        assert abs(row[q] - getattr(exact, q)) < 4 * row[q + "_se"], q
    with pytest.raises(traz.Error, match="0 replications"):
        traz.simulate(design, replications=0)


def test_pareto_rows_are_the_command_lines_front(tmp_path):
    design = traz.read_deck(TWO_STAGE)
    rows = traz.pareto(design, points=5, jobs=2)
    printed = list(csv.DictReader(io.StringIO(command_line(["pareto", "d", "--points", "5", "--format", "csv"],
                                                           tmp_path, d=design))))
    assert [r["point"] for r in rows] == [1, 2, 3, 4, 5] and len(printed) == 5
    for row, line in zip(rows, printed):
        assert row["status"] == line["search"] == "settled" and row["settled"]
        for key in line.keys() - {"deck", "cpu_seconds", "diagnostic", "search"}:
            text = line[key]
            printed_value = text if key in ("outcome", "domain") else float(text) if text else math.nan
            assert same(row[key], printed_value), (row["point"], key)
    E = [r["expected_criterion_score"] for r in rows]
    impact = [r["impact_ratio"] for r in rows]
    assert E[0] == max(E) and impact[-1] == max(impact)
    assert same_row(traz.evaluate(rows[2]["design"]).to_dict(),
                    {k: v for k, v in rows[2].items() if k in traz.evaluate(design).to_dict()})
    with pytest.raises(traz.Error, match="two groups"):
        traz.pareto(design.replace(groups=1, proportion=1.0), points=5)


def test_compare_gives_the_command_lines_verdict_and_differences(tmp_path):
    a = traz.read_deck(TWO_STAGE)
    designs = {"a": a, "b": a.replace(weights=[[1, 1, 0, 0], [1, 0, 0, 0]]),
               "c": a.replace(weights=[[1, 1, 0, 0], [0, 0, 1, 1]]), "d": a.replace(retained=[100, 10])}
    c = traz.compare(list(designs.values()))
    printed = command_line(["compare", "a", "b", "c", "d", "--format", "json"], tmp_path, **designs)
    assert c.verdict == printed["verdict"] and c.verdict.startswith("B is dominated by A and C")
    assert [r["dominated_by"] for r in c.rows] == [" ".join(d["dominated_by"]) for d in printed["designs"]]
    for row, result, d in zip(c.rows, c.results, printed["designs"]):
        assert row["design"] == d["design"] and row["outcome"] == d["result"]["outcome"] == result.outcome
        for q, b in d["difference_to_A"].items():
            assert same(row[f"difference_{q}"], math.nan if b is None else b["value"])
            assert same(row[f"difference_{q}_error"], math.nan if b is None else b["error_bound"])
    assert "keeps all 100" in c.rows[3]["diagnostic"] and c.results[2].expected_criterion_score == \
        c.rows[2]["expected_criterion_score"]
