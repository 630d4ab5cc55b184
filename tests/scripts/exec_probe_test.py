"""scripts/exec-probe tells a program the kernel refuses (exec format error) from every
other failure, without needing a machine of either kind."""

import os
import stat
import subprocess
import sys
import tempfile

PROBE = sys.argv[1]


def executable(folder, name, content):
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(content)
    os.chmod(path, stat.S_IRWXU)
    return path


with tempfile.TemporaryDirectory() as d:
    # Neither ELF nor '#!': execve answers ENOEXEC, as for an i386 program on a 64-bit-only kernel.
    foreign = executable(d, "foreign", b"\x7fELF\x01\x01\x01" + b"\0" * 57)
    failing = executable(d, "failing", b"#!/bin/sh\necho broken >&2\nexit 3\n")
    crashing = executable(d, "crashing", b"#!/bin/sh\nkill -SEGV $$\n")
    plain = os.path.join(d, "plain")
    with open(plain, "w") as f:
        f.write("not executable")
    cases = [  # (argv, exit status, words in its line)
        ([foreign], 10, "exec format error"),
        (["/bin/true"], 0, "runs"),
        ([failing], 1, "exit 3 (broken)"),
        ([crashing], 1, "signal 11"),
        ([os.path.join(d, "missing")], 1, "No such file"),
        ([plain], 1, "Permission denied"),
    ]
    failures = 0
    for argv, code, words in cases:
        p = subprocess.run([sys.executable, PROBE, *argv], capture_output=True, text=True, timeout=60)
        if p.returncode != code or words not in p.stdout:
            failures += 1
            print(f"{os.path.basename(argv[0])}: exit {p.returncode}, {p.stdout.strip()!r}; "
                  f"wanted exit {code} with {words!r}")
    print(f"exec-probe: {len(cases) - failures} passed, {failures} failed")
    sys.exit(1 if failures else 0)
