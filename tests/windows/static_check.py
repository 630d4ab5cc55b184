"""What can be known of one architecture's Windows files without running them: every program
and DLL built is a PE file for that machine and imports only the system's DLLs (the maker's
library is loaded at run time, the C++ runtime is linked in), and the installer is an NSIS one
that holds exactly the staged files.

Usage: static_check.py ARCH BUILD_DIR OUT_DIR   (ARCH x86_64 or i686; OUT_DIR holds the
installers). Prints one line per fault and a closing count; exit 0 when there is none."""

import os
import re
import subprocess
import sys
from pathlib import Path

ARCH, BUILD, OUT = sys.argv[1], Path(sys.argv[2]), Path(sys.argv[3])
PE_FORMAT = {"x86_64": "pei-x86-64", "i686": "pei-i386"}[ARCH]
OBJDUMP = "x86_64-w64-mingw32-objdump"  # reads both PE machines, so a wrong one is named
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "hid.dll", "imm32.dll",
    "kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "setupapi.dll", "shell32.dll",
    "shlwapi.dll", "ucrtbase.dll", "user32.dll", "uxtheme.dll", "version.dll", "winmm.dll",
    "ws2_32.dll",
}
# What the installer must carry besides the licences.
EXPECTED = {"KX4701SetCfg.exe", "kx4701.exe", "kx4701.txt", "readme.txt", "LICENSE.txt",
            "standin/KX4701DLL.DLL"}

C_LOCALE = {**os.environ, "LC_ALL": "C"}  # the tools' words, not a translation of them
faults = []
checked = 0


def pe_faults(path, system_only=True):
    """The faults of one PE file: wrong machine, or an import that is not the system's."""
    out = subprocess.run([OBJDUMP, "-p", str(path)], capture_output=True, text=True, timeout=60,
                         env=C_LOCALE)
    if out.returncode != 0:
        return [f"{path}: not a PE file ({out.stderr.strip()})"]
    found = re.search(r"file format (\S+)", out.stdout)
    if not found or found.group(1) != PE_FORMAT:
        return [f"{path}: {found.group(1) if found else 'no format'}, not {PE_FORMAT}"]
    if not system_only:
        return []
    imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", out.stdout)}
    return [f"{path}: imports {dll}, which is not a system DLL" for dll in sorted(imports - SYSTEM_DLLS)]


binaries = sorted(p for p in (BUILD / "bin").glob("*") if p.suffix.lower() in (".exe", ".dll"))
if not any(p.name == "KX4701SetCfg.exe" for p in binaries):
    faults.append(f"{BUILD / 'bin'}: no KX4701SetCfg.exe built")
for path in binaries:
    faults += pe_faults(path)
    checked += 1

version = re.search(r'#define KX_VERSION_STRING "(.*)"', (BUILD / "res/version.h").read_text()).group(1)
suffix = {"x86_64": "win64", "i686": "win32"}[ARCH]
setup = OUT / f"KX4701SetCfg-{version}-{suffix}-setup.exe"
stage = BUILD / "package"
if not setup.is_file():
    faults.append(f"{setup}: missing")
else:
    checked += 1
    faults += pe_faults(setup, system_only=False)
    listing = subprocess.run(["7z", "l", "-slt", "-ba", str(setup)], capture_output=True, text=True,
                             timeout=120, env=C_LOCALE)
    if "Type = Nsis" not in subprocess.run(["7z", "l", str(setup)], capture_output=True,
                                           text=True, timeout=120, env=C_LOCALE).stdout:
        faults.append(f"{setup}: not an NSIS installer")
    held = {p.replace("\\", "/").removeprefix("$INSTDIR/")
            for p in re.findall(r"^Path = (.+)$", listing.stdout, re.M)}
    held = {p for p in held if not p.startswith("$PLUGINSDIR")}
    staged = {str(p.relative_to(stage)) for p in stage.rglob("*") if p.is_file()}
    for name in sorted(EXPECTED - held):
        faults.append(f"{setup}: holds no {name}")
    if not any(p.startswith("licenses/") for p in held):
        faults.append(f"{setup}: holds no licences")
    # The uninstaller is written by the installer's compiler, not staged.
    for name in sorted(held ^ (staged | {"uninstall.exe"})):
        faults.append(f"{setup}: {name} is {'staged but not held' if name in staged else 'held but not staged'}")
    if "KX4701DLL.DLL" in held:
        faults.append(f"{setup}: would put a KX4701DLL.DLL beside the program")
    for path in sorted(stage.rglob("*")):
        if path.suffix.lower() in (".exe", ".dll"):
            faults += pe_faults(path)
            checked += 1

for fault in faults:
    print(f"static check: {fault}")
print(f"static check {ARCH}: {checked} files checked, {len(faults)} faults")
sys.exit(1 if faults else 0)
