"""The checker's SARIF logs held against the SARIF multitool's validation
rules, and their columns against UTF-16 counted by hand.

usage: sarif_multitool_test.py CHECKER MULTITOOL DATA_DIR

The multitool (npm @microsoft/sarif-multitool, installed by
`tools/run deps test`) checks what the schema alone does not: an
informationUri, a region on every result, relative URIs and the like. Each
log is validated with the names relative, as a CI job writes them; any
result the multitool gives fails the test. Without the multitool the test
is skipped (exit 77), but fails under CI=true.
"""
import json
import os
import subprocess
import sys
import tempfile

checker, multitool, data = sys.argv[1:4]

if not os.access(multitool, os.X_OK):
    print(f"the SARIF multitool is not installed at {multitool}: run tools/run deps test")
    sys.exit(1 if os.environ.get("CI") == "true" else 77)

# A byte-order mark and non-ASCII text before the spots of certain fixes:
# U+00FC and U+00DF take two bytes and one unit each, U+1F600 four bytes
# and two units, the mark three bytes and one unit, and a byte of invalid
# UTF-8 one unit.
BOM_AND_WIDE = (b"\xef\xbb\xbfQUORBIX_CLIENT_ID=gr\xc3\xbc\xc3\x9f\xf0\x9f\x98\x80\n"
                b"QUORBIX_MQTT_ADDR=gr\xc3\xbc\xff\xf0\x9f\x98\x80 \n"
                b"QUORBIX_ENABLE=1\n")
# ruleId: (region's start and end column, the first fix's deleted columns)
EXPECTED_COLUMNS = {
    # 1 (mark) + 18 (key and "=") + 4 (gr, u-umlaut, sharp s) + 2 (U+1F600)
    "byte-order-mark": ((1, 26), (1, 2)),
    # the host from column 19: "gr", u-umlaut, 0xff, U+1F600, a blank
    "host-not-a-name": ((19, 26), (19, 26)),
}


def validate(name, cwd, args, status):
    """Runs the checker in cwd, validates its log; a list of failures."""
    failures = []
    run = subprocess.run([checker, "--format=sarif", "--at", "2026-12-01"] + args, cwd=cwd,
                         capture_output=True, check=False)
    if run.returncode != status:
        failures.append(f"{name}: exit {run.returncode}, not {status}")
    doc = json.loads(run.stdout)
    with tempfile.TemporaryDirectory() as tmp:
        log = os.path.join(tmp, "log.sarif")
        out = os.path.join(tmp, "validation.sarif")
        with open(log, "wb") as f:
            f.write(run.stdout)
        checked = subprocess.run([multitool, "validate", log, "-o", out], capture_output=True,
                                 check=False)
        if not os.path.exists(out):
            return failures + [f"{name}: the multitool wrote no result "
                               f"(exit {checked.returncode}): {checked.stdout[-500:]!r}"], doc
        with open(out, encoding="utf-8") as f:
            results = json.load(f)["runs"][0].get("results", [])
    for r in results:
        text = r["message"].get("text") or " ".join(r["message"].get("arguments", []))
        failures.append(f"{name}: {r['ruleId']} {r.get('level', 'warning')}: {text}")
    print(f"{name}: exit {run.returncode}, {len(results)} validation results")
    return failures, doc


failures = []
with tempfile.TemporaryDirectory() as work:
    with open(os.path.join(work, "settings"), "wb") as f:
        f.write(BOM_AND_WIDE)
    found, doc = validate("a byte-order mark and non-ASCII text", work,
                          ["settings", "no-such-file"], 2)
    failures += found
    seen = {}
    for r in doc["runs"][0]["results"]:
        region = r["locations"][0]["physicalLocation"].get("region", {})
        if r["ruleId"] in EXPECTED_COLUMNS and region:
            deleted = r["fixes"][0]["artifactChanges"][0]["replacements"][0]["deletedRegion"]
            seen[r["ruleId"]] = ((region["startColumn"], region["endColumn"]),
                                 (deleted["startColumn"], deleted["endColumn"]))
        if r["ruleId"] == "unreadable" and region.get("startLine") != 1:
            failures.append(f"the unreadable file's result is not at line 1: {region}")
    if seen != EXPECTED_COLUMNS:
        failures.append(f"columns: {seen}, not {EXPECTED_COLUMNS}")
    if "unreadable" not in [r["ruleId"] for r in doc["runs"][0]["results"]]:
        failures.append("the file that cannot be read has no result")

check_dir = os.path.join(data, "check")
for name, args, status in [("fleet", ["fleet"], 1),
                           ("mistakes", ["mistakes.settings"], 1),
                           ("certain fixes", ["fixable.settings"], 1)]:
    found, _ = validate(name, check_dir, args, status)
    failures += found

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
