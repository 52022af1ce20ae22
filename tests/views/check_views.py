"""The JSON and CSV views of the example decks: the JSON validates against the published
schema, its results equal the report's to the report's digits, and the CSV reads back to
the JSON's numbers exactly."""
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

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("views agree for", len(decks), "decks")
