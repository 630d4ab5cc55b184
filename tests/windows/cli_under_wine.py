"""kx4701.exe under wine over the stand-in KX4701DLL.DLL beside it (two virtual chips at
load; each run is a new process, so each starts from them): list, show, writes with their
read-back, and a refused value. Usage: cli_under_wine.py WINE KX4701_EXE. Exit 0 when all
pass; prints one line per failure."""

import json
import subprocess
import sys

WINE, EXE = sys.argv[1], sys.argv[2]


def run(*args):
    # A lost link to wine's own server ("wine client error") is wine's fault, not the tool's:
    # each run starts from the stand-in's chips afresh, so running it again is safe.
    for _ in range(3):
        p = subprocess.run([WINE, EXE, *args], capture_output=True, timeout=120)
        err = p.stderr.decode("utf-8", "replace")
        if "wine client error" not in err:
            break
    return p.returncode, p.stdout.decode("utf-8"), err


def chips(doc):
    return [d for d in doc["devices"] if d["kx4701"]]


CASES = [
    (("list", "--json"), 0, lambda d: len(chips(d)) == 2 and chips(d)[0]["vid"] == "3C5B"),
    (("show", "--index", "1", "--json"), 0,
     lambda d: d["stored"]["serial"]["text"] == "9600 8N1"
     and d["stored"]["identity"]["serial"]["text"] == "12345678"),
    (("set-serial", "--index", "0", "--baud", "115200", "--data-bits", "7", "--json"), 0,
     lambda d: d["results"][0]["after"]["text"] == "115200 7N1"),
    (("set-identity", "--index", "1", "--product", "转换器", "--serial", "S-1", "--json"), 0,
     lambda d: d["results"][0]["after"]["identity"]["product"]["cp936"] == "D7 AA BB BB C6 F7"),
    (("reset", "--all", "--json"), 0, lambda d: [r["result"] for r in d["results"]] == ["done"] * 2),
    (("set-identity", "--index", "0", "--vid", "12", "--json"), 2, None),
]

failures = 0
for args, code, check in CASES:
    got, out, err = run(*args)
    ok = got == code
    if ok and check is not None:
        try:
            ok = bool(check(json.loads(out)))
        except (ValueError, KeyError, IndexError, TypeError):
            ok = False
    if not ok:
        failures += 1
        print(f"kx4701 {' '.join(args)}: exit {got} (wanted {code})\n{out}{err}")
print(f"kx4701 under wine: {len(CASES) - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
