#!/usr/bin/env python3
"""schema_test WINE_RUN LOGTOOL_EXE: every sample and test description follows
docs/description.schema.json, so does what logtool dump --json writes, and the schema refuses the
shapes logtool refuses."""
import json
import subprocess
import sys
import tempfile
from pathlib import Path

import jsonschema

top = Path(__file__).resolve().parent.parent
schema = json.loads((top / "docs/description.schema.json").read_text(encoding="utf-8"))
jsonschema.Draft7Validator.check_schema(schema)
validator = jsonschema.Draft7Validator(schema)
results = {"passed": 0, "failed": 0}


def check(what, doc, valid):
    errors = [e.message for e in validator.iter_errors(doc)]
    if (not errors) == valid:
        results["passed"] += 1
    else:
        results["failed"] += 1
        why = "; ".join(errors) if errors else "accepted, logtool refuses it"
        print(f"FAILED: {what}: {why}")


def wine_path(path):
    return "Z:" + str(path).replace("/", "\\")


def logtool(*args):
    return subprocess.run([sys.argv[1], sys.argv[2], *args], capture_output=True, timeout=120)


samples = [top / "tools/demo/parlomatic.json", *sorted((top / "tests/descriptions").glob("*.json"))]
with tempfile.TemporaryDirectory() as tmp:
    for sample in samples:
        check(sample.relative_to(top), json.loads(sample.read_text(encoding="utf-8")), True)
        log = Path(tmp) / "x.log"
        built = logtool("build", wine_path(sample), wine_path(log))
        dumped = logtool("dump", "--json", wine_path(log))
        if built.returncode or dumped.returncode:
            results["failed"] += 1
            print(f"FAILED: logtool build/dump of {sample.name}: {built.stderr} {dumped.stderr}")
        else:
            check(f"logtool dump --json of {sample.name}", json.loads(dumped.stdout), True)

# Shapes as logtool_test gives them; the schema agrees with logtool on each.
for text, valid in [
    ('{}', True),
    ('{"banner": "' + "b" * 41 + '", "items": {"10": 1}, "records": [{"name": "A"}]}', True),
    ('{"records": [{"name": "E", "flags": 32776, "text": "", "value": 0, "list": []}]}', True),
    ('[]', False),
    ('{"record": []}', False),
    ('{"banner": "' + "b" * 42 + '"}', False),
    ('{"items": {"12": "x"}}', False),
    ('{"items": {"05": 1}}', False),
    ('{"items": {"5": 65536}}', False),
    ('{"items": {"6": -1}}', False),
    ('{"items": {"1": 7}}', False),
    ('{"records": {}}', False),
    ('{"records": [7]}', False),
    ('{"records": [{"text": "x"}]}', False),
    ('{"records": [{"name": 1}]}', False),
    ('{"records": [{"name": ""}]}', False),
    ('{"records": [{"name": "' + "n" * 255 + '"}]}', False),
    ('{"records": [{"name": "A", "txt": "x"}]}', False),
    ('{"records": [{"name": "A", "flags": 65536}]}', False),
    ('{"records": [{"name": "A", "value": 1.5}]}', False),
    ('{"records": [{"name": "A", "value": 4294967296}]}', False),
    ('{"records": [{"name": "A", "list": "x"}]}', False),
    ('{"records": [{"name": "A", "list": ["x", 2]}]}', False),
]:
    check(text[:60], json.loads(text), valid)

print(f"schema_test: {results['passed']} passed, {results['failed']} failed")
sys.exit(1 if results["failed"] else 0)
