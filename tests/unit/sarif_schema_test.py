"""The checker's SARIF output held against the SARIF 2.1.0 JSON schema.

usage: sarif_schema_test.py CHECKER SCHEMA DATA_DIR

Runs the checker with --format=sarif over the fleet folder, over a file
with many kinds of findings together with a file that cannot be read, over
a file of certain fixes (which must come as fixes) and over a clean file,
and validates each document. A document spoiled on
purpose must fail, so that a validator that accepts everything cannot pass.
"""
import copy
import json
import subprocess
import sys

import jsonschema

checker, schema_path, data = sys.argv[1:4]
with open(schema_path, encoding="utf-8") as f:
    schema = json.load(f)
validator = jsonschema.Draft4Validator(schema)

runs = {
    "fleet": ([data + "/check/fleet"], 1),
    "mistakes and an unreadable file": (
        [data + "/check/mistakes.settings", data + "/check/no-such-file"], 2),
    "certain fixes": ([data + "/check/fixable.settings"], 1),
    "a clean file": ([data + "/check/fleet/hall-a/gw-01/settings"], 0),
}
failed = False
checked = None
for name, (args, status) in runs.items():
    run = subprocess.run([checker, "--format=sarif", "--at", "2026-12-01"] + args,
                         capture_output=True, check=False)
    doc = json.loads(run.stdout)
    errors = sorted(validator.iter_errors(doc), key=str)
    results = len(doc["runs"][0]["results"])
    print(f"{name}: exit {run.returncode}, {results} results, {len(errors)} schema errors")
    for error in errors[:5]:
        print("  ", error.message, "at", list(error.absolute_path))
    if errors or run.returncode != status:
        failed = True
    fixes = sum(1 for r in doc["runs"][0]["results"] if "fixes" in r)
    if name == "certain fixes" and fixes < 10:
        print(f"{name}: only {fixes} results carry fixes")
        failed = True
    if results:
        checked = doc

spoiled = copy.deepcopy(checked)
spoiled["runs"][0]["results"][0]["level"] = "fatal"
spoiled["runs"][0]["results"][0]["locations"][0]["physicalLocation"]["region"]["startLine"] = 0
if validator.is_valid(spoiled):
    print("the validator accepted a spoiled document")
    failed = True
sys.exit(1 if failed else 0)
