"""The JSON and CSV views of the example decks: the JSON validates against the published
schema, its results equal the report's to the report's digits, the impact ratio is the lower
rate over the higher, the CSV reads back to the JSON's numbers exactly, and the README's
JSON example and field list are what the program writes."""
import csv
import io
import json
import re
import subprocess
import sys

import jsonschema

traz, source = sys.argv[1], sys.argv[2]
decks = [f"{source}/examples/{n}.deck" for n in ("single-stage", "two-stage", "three-stage")]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def run(*args):
    return subprocess.run([traz, *args], capture_output=True, text=True, check=False)


schema = json.load(open(f"{source}/docs/traz-output.schema.json"))
jsonschema.Draft202012Validator.check_schema(schema)

runs = json.loads(run("--format", "json", *decks).stdout)
jsonschema.validate(runs, schema, cls=jsonschema.Draft202012Validator)
check(len(runs) == 3, "one JSON object per deck")

# Fitted runs record the rule that integrated them; the examples need no fallback.
fitted = json.loads(run("--fitted", "--format", "json", *decks).stdout)
jsonschema.validate(fitted, schema, cls=jsonschema.Draft202012Validator)
for r in fitted:
    rule = r["integration_domain"]["rule"]
    check(rule["integrator"] == "rule" and rule["met"] and rule["fallback"] is None and rule["points"] > 0,
          f"{r['source']}: fitted by the rule without a fallback")

rows = list(csv.DictReader(io.StringIO(run("--format", "csv", *decks).stdout)))
check(len(rows) == 3, "one CSV row per deck")

report_lines = {
    "expected_criterion_score": (r"Expected Criterion Score Selected:\s+(\S+)", 0, 4),
    "selection_rate_group1": (r"Expected selection rate of groups:\s+(\S+)\s+(\S+)", 0, 4),
    "selection_rate_group2": (r"Expected selection rate of groups:\s+(\S+)\s+(\S+)", 1, 4),
    "ai_ratio": (r"Expected AI ratio:\s+(\S+)", 0, 4),
    "sd_average_criterion_score": (r"Standard Deviation Average Criterion Score Selected:\s+(\S+)", 0, 4),
}
for deck, obj, row in zip(decks, runs, rows):
    report = run(deck).stdout
    check(obj["source"] == deck and row["deck"] == deck, f"{deck}: source named")
    for key, (pattern, group, decimals) in report_lines.items():
        match = re.search(pattern, report)
        check(match is not None, f"{deck}: report line for {key}")
        if match is None:
            continue
        value = obj["results"][key]["value"]
        check(f"{value:.{decimals}f}" == match.group(group + 1), f"{deck}: {key} {value} against the report's {match.group(group + 1)}")
        check(float(row[key]) == value, f"{deck}: CSV {key} {row[key]} against JSON {value}")
        check(float(row[key + "_error"]) == obj["results"][key]["error_bound"], f"{deck}: CSV {key}_error")
    check(row["outcome"] == "computed" and row["proportion_selected"] == "", f"{deck}: CSV outcome and empty cells")
    res = obj["results"]
    r1, r2, ir = res["selection_rate_group1"], res["selection_rate_group2"], res["impact_ratio"]
    check(ir["value"] == min(r1["value"], r2["value"]) / max(r1["value"], r2["value"]), f"{deck}: impact ratio")
    check(0 < ir["error_bound"] < 1e-3, f"{deck}: impact ratio bound {ir['error_bound']}")
    check(float(row["impact_ratio"]) == ir["value"] and float(row["impact_ratio_error"]) == ir["error_bound"],
          f"{deck}: CSV impact ratio")

# The README's JSON example is the program's output for examples/two-stage.deck (to the
# last digits that may differ between the scalar and vector normal probabilities), and its
# list of fields names every field of the schema.
readme = open(f"{source}/README.md").read()
example = re.search(r'\n    "results": (\{.*?\n    \})', readme, re.S)
check(example is not None, "README: JSON example of the results")
if example is not None:
    documented = json.loads(example.group(1))
    written = runs[1]["results"]
    check(list(documented) == list(written), f"README results keys {list(documented)} against {list(written)}")
    for key, value in documented.items():
        actual = written.get(key)
        if isinstance(value, dict):
            for part in ("value", "error_bound"):
                ok = isinstance(actual, dict) and abs(value[part] - actual[part]) <= 1e-12 * abs(actual[part])
                check(ok, f"README {key}.{part} {value[part]} against the program's {actual and actual[part]}")
        else:
            check(value == actual, f"README {key} {value} against the program's {actual}")
fields = re.search(r"### JSON\n(.*?)### CSV", readme, re.S).group(1)
named = set(re.findall(r"`([a-z_0-9]+)`", fields))
for key in schema["$defs"]["run"]["properties"]:
    check(key in named, f"README's JSON section does not name the field {key}")
for key in schema["$defs"]["run"]["properties"]["outcome"]["enum"]:
    check(key in named or key == "stopped", f"README's JSON section does not name the outcome {key}")

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("views agree for", len(decks), "decks")
