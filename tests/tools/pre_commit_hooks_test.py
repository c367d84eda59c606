"""The pre-commit hook of the repository's root: its fields, the files its
pattern takes (as pre-commit matches them, re.search on the path), and its
entry run as pre-commit runs a system hook, with the file names after it.

Usage: pre_commit_hooks_test.py HOOKS_YAML QUORBIX_CHECK_BINARY
"""
import os
import re
import subprocess
import sys
import tempfile

import yaml

hooks_path, checker = sys.argv[1], sys.argv[2]
with open(hooks_path, encoding="utf-8") as f:
    hooks = yaml.safe_load(f)

failures = []


def expect(what, ok):
    if not ok:
        failures.append(what)


expect("one hook", isinstance(hooks, list) and len(hooks) == 1)
hook = hooks[0]
for key, value in [("id", "quorbix-check"), ("entry", "quorbix-check"), ("language", "system")]:
    expect(f"{key} is {value!r}, not {hook.get(key)!r}", hook.get(key) == value)
expect("a name", bool(hook.get("name")))
pattern = re.compile(hook.get("files", ""))
for path, taken in [
    ("settings", True),
    ("site/a/settings", True),
    ("fleet/hall-b/gw-03/settings", True),
    ("settings.bak", False),
    ("my-settings", False),
    ("settings/README", False),
    ("site/settings.d/x", False),
    ("examples/settings~", False),
]:
    expect(f"files: {hook.get('files')!r} takes {path!r}: {taken}",
           bool(pattern.search(path)) == taken)

# The entry, found on the PATH as an installed checker is, on one sound and
# one broken file: the commit passes only when every file does.
sound = "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\nQUORBIX_MQTT_ADDR=h\nQUORBIX_MQTT_PORT=1883\nQUORBIX_CLIENT_ID=c\n"
broken = "QUORBIX_ENABLE=1\n"
with tempfile.TemporaryDirectory() as work:
    bindir = os.path.join(work, "bin")
    os.mkdir(bindir)
    os.symlink(os.path.abspath(checker), os.path.join(bindir, hook["entry"]))
    for folder, text in [("a", sound), ("b", broken)]:
        os.makedirs(os.path.join(work, "site", folder))
        with open(os.path.join(work, "site", folder, "settings"), "w", encoding="utf-8") as f:
            f.write(text)
    env = dict(os.environ, PATH=bindir + os.pathsep + os.environ.get("PATH", ""))
    for files, status in [(["site/a/settings"], 0), (["site/a/settings", "site/b/settings"], 1)]:
        run = subprocess.run(hook["entry"].split() + files, cwd=work, env=env,
                             capture_output=True, text=True, check=False)
        expect(f"{hook['entry']} {' '.join(files)} exits {status}, not {run.returncode}: "
               f"{run.stdout}{run.stderr}", run.returncode == status)

for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
