"""kx4701.exe under wine over both stand-in DLLs (only the maker's fourteen functions; the
fourteen and our extension), its chips in a folder the stand-in shares between processes
(KX4701_STANDIN_BENCH): one table of command lines (exit status, a line said, what each chip
stores and received afterwards), provisioning over three chips and with --watch while chips
are plugged one after another, and runs killed at seeded moments.
Usage: cli_under_wine.py WINE KX4701_EXE [KILLS]. Exit 0 when all pass."""

import glob, json, os, random, re, shutil, subprocess, sys, tempfile, time

WINE, EXE = sys.argv[1], sys.argv[2]
KILLS = int(sys.argv[3]) if len(sys.argv) > 3 else 50
BIN = os.path.dirname(EXE)
STANDINS = {"fourteen": os.path.join(BIN, "fourteen", "KX4701DLL.DLL"),
            "extension": os.path.join(BIN, "KX4701DLL.DLL")}
ACME = {"vid": 0x1A2B, "pid": 0x0001, "max_power": 40, "manufacturer": "41434D45",
        "product": "426F617264", "serial": "422D32"}
PROFILE = '[serial]\nbaud = 115200\nparity = "none"\ndata_bits = 8\nstop_bits = 1\n' \
          '[identity]\nproduct = "转换器"\nserial = "KXB-{counter:06}"\n'
failures = 0


def check(ok, what):
    global failures
    if not ok:
        failures += 1
        print(f"FAILED: {what}")
    return ok


class Bench:
    """A folder of chips and a copy of kx4701.exe beside one stand-in."""

    def __init__(self, standin, root):
        self.dir = tempfile.mkdtemp(dir=root)
        self.chips = os.path.join(self.dir, "chips")
        os.mkdir(self.chips)
        shutil.copy(EXE, self.dir)
        shutil.copy(standin, self.dir)
        self.env = dict(os.environ, KX4701_STANDIN_BENCH="Z:" + self.chips.replace("/", "\\"))

    def plug(self, name, **state):
        tmp = os.path.join(self.chips, f"~{name}.new")
        with open(tmp, "w") as f:
            f.write(json.dumps(state) if state else "")
        os.rename(tmp, os.path.join(self.chips, f"hid#vid_3c5b&pid_b207#{name}&0"))

    def chip(self, name):
        """What the chip stores and received; None while it is not plugged."""
        for path in glob.glob(os.path.join(glob.escape(self.chips), f"hid#*#{name}&*")):
            text = open(path).read()
            return json.loads(text) if text else {"received": []}
        return None

    def start(self, *args, output=subprocess.PIPE):
        return subprocess.Popen([WINE, os.path.join(self.dir, "kx4701.exe"), *args], env=self.env,
                                cwd=self.dir, stdout=output, stderr=output)

    def run(self, *args):
        p = self.start(*args)
        out, err = p.communicate(timeout=120)
        return p.returncode, out.decode(), err.decode()


def until(condition, seconds=60):
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.05)
    return condition()


def text(chip, key):
    return bytes.fromhex(chip.get(key, "")).decode("gbk")


FULL = ("--baud", "115200", "--parity", "none", "--data-bits", "7", "--stop-bits", "1")
# Chips a and c factory-new, b with an identity of its own. Each row: the command line, the
# exit status with each stand-in (fourteen, extension), a text it says (stdout or stderr),
# then what each chip holds afterwards: {chip: (stored field, value)} and calls received.
ROWS = [
    (("list", "--json"), (0, 0), '"serial": "B-2"', {}, {}),
    (("show", "--index", "1"), (5, 0), "VID 1A2B PID 0001", {}, {}),
    (("set-serial", "--index", "0", "--baud", "300"), (5, 0), "", {}, {}),
    (("set-serial", "--index", "0", *FULL, "--json"), (0, 0), '"after"|"unverified"',
     {"a": ("serial_defaults", [13, 4, 1, 3, 48])}, {"a": ["KX4701SetDefaultRate 13 4 1 3 48"]}),
    (("set-identity", "--index", "1", "--product", "转换器", "--serial", "S-1"), (0, 0),
     "kept from what the chip (reports|stores): vid, pid, manufacturer",
     {"b": ("text", "product", "转换器")},
     {"b": ["KX4701SetDeviceCfg 1A2B 0001 50 41434D45 D7AABBBBC6F7 532D31"]}),
    (("set-identity", "--index", "0", "--manufacturer", "厂商", "--json"), (0, 0),
     '"cp936": "B3 A7 C9 CC"', {"a": ("text", "manufacturer", "厂商")}, {}),
    (("reset", "--all", "--json"), (0, 0), '"result": "(unverified|done)"',
     {"b": ("vid", 0x3C5B)}, {n: ["KX4701ResetToDefault"] for n in "abc"}),
    (("reset", "--index", "1", "--require-verified"), (3, 0), "", {"b": ("vid", 0x3C5B)}, {}),
    (("set-identity", "--index", "0", "--vid", "12"), (2, 2), "--vid must be", {}, {"a": []}),
    (("set-serial", "--index", "2", *FULL), (1, 1), "writing the serial defaults failed", {},
     {"c": ["KX4701SetDefaultRate 13 4 1 3 48"]}),
    (("set-identity", "--index", "1", "--serial", "B-9"), (3, 3), "but the chip holds", {}, {}),
]


def table(variant, root):
    for args, codes, said, stores, received in ROWS:
        bench = Bench(STANDINS[variant], root)
        bench.plug("a")
        bench.plug("b", **ACME, forget=args[-1] == "B-9")
        bench.plug("c", refuse=args[:3] == ("set-serial", "--index", "2"))
        code, out, err = bench.run(*args)
        want = codes[0 if variant == "fourteen" else 1]
        where = f"{variant}: kx4701 {' '.join(args)}"
        check(code == want and re.search(said, out + err), f"{where}: exit {code} (wanted {want})"
              f" or '{said}' not said\n{out}{err}")
        for name, (key, *value) in stores.items():
            chip = bench.chip(name)
            got = text(chip, value[0]) if key == "text" else chip.get(key)
            check(got == value[-1], f"{where}: chip {name} holds {key} {got}, not {value[-1]}")
        for name, calls in received.items():
            got = bench.chip(name)["received"]
            check(got == calls, f"{where}: chip {name} received {got}, not {calls}")


def used_numbers(bench, names):
    numbers = []
    for name in names:
        for call in bench.chip(name)["received"]:
            if call.startswith("KX4701SetDeviceCfg"):
                numbers.append(int(bytes.fromhex(call.split()[-1]).decode()[4:]))
    return numbers


def state_next(bench):
    match = re.search(r"^next (\d+)$", open(os.path.join(bench.dir, "p.toml.state")).read(), re.M)
    return int(match.group(1))


def provisioning(variant, root):
    bench = Bench(STANDINS[variant], root)
    open(os.path.join(bench.dir, "p.toml"), "w", encoding="utf-8").write(PROFILE)
    for name in "abc":
        bench.plug(name)
    code, out, err = bench.run("provision", "p.toml", "--json")
    doc = json.loads(out) if code == 0 else {}
    check(code == 0 and doc.get("done") == 3 and doc.get("next") == 4,
          f"{variant}: provision over three chips: exit {code}\n{out}{err}")
    # Watching: three more chips plugged one after another, each once the last is done.
    watch = bench.start("provision", "p.toml", "--watch", "--count", "3")
    for name in "def":
        bench.plug(name)
        check(until(lambda: text(bench.chip(name) or {}, "serial").startswith("KXB-")),
              f"{variant}: --watch did not provision chip {name}")
    out, err = watch.communicate(timeout=120)
    check(watch.returncode == 0 and "3 done" in out.decode(),
          f"{variant}: provision --watch: exit {watch.returncode}\n{out.decode()}{err.decode()}")
    numbers = used_numbers(bench, "abcdef")
    check(sorted(numbers) == list(range(1, 7)), f"{variant}: numbers used {numbers}")
    return bench


def kill_test(variant, root):
    """Runs killed at seeded moments over three chips, then one to completion."""
    bench = Bench(STANDINS[variant], root)
    open(os.path.join(bench.dir, "p.toml"), "w", encoding="utf-8").write(PROFILE)
    for name in "xyz":
        bench.plug(name)
    start = time.monotonic()
    check(bench.run("provision", "p.toml", "--rewrite")[0] == 0, f"{variant}: a whole run failed")
    whole = time.monotonic() - start
    moments, killed, runs = random.Random(26), 0, 2
    while killed < KILLS:
        # No pipes: a wine service a killed run started may keep them open long after.
        runs += 1
        run = bench.start("provision", "p.toml", "--rewrite", output=subprocess.DEVNULL)
        try:
            run.wait(timeout=moments.uniform(0, whole))
        except subprocess.TimeoutExpired:
            run.kill()  # SIGKILL: the process ends as TerminateProcess ends it
            killed += 1
        run.wait(timeout=60)
    # The system may still be closing a killed run's lock: the last run retries until it gets it.
    check(until(lambda: bench.run("provision", "p.toml", "--rewrite")[0] == 0, 300),
          f"{variant}: the last run failed")
    numbers = used_numbers(bench, "xyz")
    twice = len(numbers) - len(set(numbers))
    nxt = state_next(bench)
    print(f"kill test ({variant}): {runs} runs, {killed} killed, {len(numbers)} numbers "
          f"used, {twice} used twice, next {nxt}")
    check(twice == 0 and nxt > max(numbers), f"{variant}: a number used twice or next too low")


with tempfile.TemporaryDirectory() as root:
    for variant in STANDINS:
        table(variant, root)
        provisioning(variant, root)
    kill_test("fourteen", root)
print(f"kx4701 under wine: {failures} failed")
sys.exit(1 if failures else 0)
