#!/usr/bin/python3
# What a screen reader says: while Orca listens, the bench program's dialog is driven from the
# keyboard alone (xdotool), and what Orca said (the SPEECH OUTPUT lines of its debug log) is
# checked against a table; then what keys do not reach is checked over AT-SPI: the bench
# window, a check box's toggle action, and the open chip unplugged. Needs the X server,
# buses and Orca that scripts/a11ytest starts. Usage: dialog_a11y.py BENCH_PROGRAM ORCA_LOG
import re
import subprocess
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# Atspi marks get_action_name deprecated, yet this version has no other way to an action's
# name that does not depend on the language.
warnings.simplefilter("ignore", DeprecationWarning)

WAIT = 60.0  # seconds a condition may take: generous, for a loaded machine
STATUS = "操作状态:"
R = Atspi.Role

# What Orca must say, in this order, when each control takes the focus: its name and role
# (said once), then an edit's whole text or a list's value; the two 设备信息 fields told
# apart by their descriptions.
FOCUS = {
    1000: ["选择设备 editable combo box", "VBENCH://KX4701/"],
    1001: ["设备信息 read only text", "设备已连接,VID=3C5BPID=B207 VER=100", "已打开设备的 VID、PID 和版本"],
    1002: ["设备信息 read only text", "有设备接入", "最近一次设备插拔"],
    1003: ["波特率 editable combo box", "9600"],
    1004: ["停止位 editable combo box", "1位"],
    1005: ["校验位 editable combo box", "无校验"],
    1006: ["数据位 editable combo box", "8位"],
    1007: ["VID: check box not checked"],
    1008: ["VID: text", "3C5B"],
    1009: ["PID: check box not checked"],
    1013: ["Manufacturer check box checked"],
    1014: ["Manufacturer text", "KX-CHIPS"],
    1015: ["Product check box checked"],
    1016: ["Product text", "HID To Serial"],
    1017: ["Serial check box checked"],
    1018: ["Serial text", "12345678"],
    1019: ["关闭设备 push button"],
    1020: ["设置默认波特率 push button"],
    1021: ["设置配置 push button"],
    1022: ["获取配置 push button"],
    1050: ["恢复出厂设置 push button"],
}
# Tab from the open button, with the device open and VID checked: every enabled input
# control in template order (the PID edit stays disabled), the push buttons last.
TAB_ORDER = [1020, 1021, 1022, 1050, 1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008,
             1009, 1013, 1014, 1015, 1016, 1017, 1018, 1019]
# Keys pressed where the first lap of Tab stops, and what Orca must say then.
ON_THE_WAY = {
    1020: (["space"], [STATUS + "设置默认串口参数成功!"]),
    1007: (["space"], ["checked"]),
    1008: (["End", "BackSpace"], []),  # VID 3C5: too short
}

SPOKEN = re.compile(r" - SPEECH OUTPUT: '(.*)' ?\{")


class Failed(Exception):
    pass


def pump():
    while GLib.MainContext.default().iteration(False):
        pass


def wait_for(what, probe, wait=WAIT):
    deadline = time.monotonic() + wait
    while True:
        pump()
        try:
            value = probe()
        except GLib.GError:  # an object that went while it was read: read again
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failed(f"not within {wait:.0f} s: {what() if callable(what) else what}")
        time.sleep(0.05)


class Orca:
    """What Orca has said so far: the SPEECH OUTPUT lines of its debug log."""

    def __init__(self, log):
        self.file, self.said, self.partial = open(log, encoding="utf-8", errors="replace"), [], ""

    def heard(self, mark, phrases):
        chunk = self.partial + self.file.read()
        lines = chunk.split("\n")
        self.partial = lines.pop()
        self.said += [m.group(1) for m in map(SPOKEN.search, lines) if m]
        text, at = " | ".join(self.said[mark:]), 0
        for phrase in phrases:  # in this order
            at = text.find(phrase, at)
            if at < 0:
                return False
            at += len(phrase)
        return True

    def expect(self, mark, phrases, failures, what):
        try:
            wait_for(lambda: f"{what}: Orca did not say {phrases}; it said {self.said[mark:]}",
                     lambda: self.heard(mark, phrases))
        except Failed as failure:
            failures.append(str(failure))


def key(*names):
    subprocess.run(["xdotool", "key", *names], check=True, timeout=WAIT)


def children(node):
    found = (node.get_child_at_index(i) for i in range(node.get_child_count()))
    return [child for child in found if child is not None]  # None: gone meanwhile


def find(node, role, name=None):
    for child in children(node):
        if child.get_role() == role and (name is None or child.get_name() == name):
            return child
        found = find(child, role, name)
        if found is not None:
            return found
    return None


def enabled(node):
    return node.get_state_set().contains(Atspi.StateType.ENABLED)


def press(node):
    names = [node.get_action_name(i) for i in range(node.get_n_actions())]
    verb = next(n for n in ("Press", "Toggle") if n in names)
    assert enabled(node), node.get_name()
    node.do_action(names.index(verb))


def registered(bench):
    if bench.poll() is not None:
        raise Failed(f"the bench program ended with status {bench.returncode}")
    desktop = Atspi.get_desktop(0)
    return next((a for a in children(desktop) if a.get_name() == "KX4701SetCfgBench"), None)


def focused(orca, mark, failures, what):
    """The control Orca presents after a key: the one whose FOCUS phrases it all said."""
    try:
        return wait_for(lambda: f"{what}: what Orca said fits no control: {orca.said[mark:]}",
                        lambda: next((c for c, p in FOCUS.items() if orca.heard(mark, p)), None))
    except Failed as failure:
        failures.append(str(failure))
        return None


def walk(orca, failures):
    """Keys only: open, a lap of Tab with a few keys on the way, Shift+Tab, 设置配置."""
    orca.expect(0, ["打开设备 push button"], failures, "the dialog's default focus")
    mark = len(orca.said)
    key("space")
    orca.expect(mark, ["关闭设备", STATUS + "打开设备成功!"], failures, "Space on 打开设备")
    order, control = [], None
    while control != 1019 and len(order) < 2 * len(TAB_ORDER):
        mark = len(orca.said)
        key("Tab")
        control = focused(orca, mark, failures, f"Tab after {order}")
        if control is None:
            return
        order.append(control)
        times = " | ".join(orca.said[mark:]).count(FOCUS[control][0])
        if times != 1:
            failures.append(f"Tab to {control}: {FOCUS[control][0]!r} said {times} times")
        keys, phrases = ON_THE_WAY.get(control, ([], []))
        if keys:
            mark = len(orca.said)
            key(*keys)
            orca.expect(mark, phrases, failures, f"{keys} on {control}")
    if order != TAB_ORDER:
        failures.append(f"Tab went {order}, not {TAB_ORDER}")
    for name, want in (("shift+Tab", 1018), ("Tab", 1019), ("Tab", 1020), ("Tab", 1021)):
        mark = len(orca.said)
        key(name)
        if focused(orca, mark, failures, name) != want:
            failures.append(f"{name} after {order[-1]}: the focus is not on {want}")
    mark = len(orca.said)
    key("space")
    orca.expect(mark, ["VID长度不对"], failures, "Space on 设置配置 with VID 3C5")
    key("Return")  # the message box's OK


def run(bench, orca, failures):
    app = wait_for("the bench program on the accessibility bus", lambda: registered(bench))
    dialog = wait_for("the dialog", lambda: find(app, R.DIALOG, "KX4701配置工具"))
    window = wait_for("the bench window", lambda: find(app, R.FILLER, "KX4701 虚拟芯片台"))
    found = subprocess.run(["xdotool", "search", "--name", "^KX4701配置工具$"], timeout=WAIT,
                           capture_output=True, text=True).stdout.split()
    if not found:
        raise Failed("xdotool finds no window of the dialog")
    subprocess.run(["xdotool", "windowfocus", "--sync", found[0]], check=True, timeout=WAIT)
    walk(orca, failures)
    wait_for("the message box gone", lambda: all(w.get_role() != R.ALERT for w in children(app)))

    # A check box pressed over AT-SPI is clicked, as by a user: its edit follows it.
    pid = find(dialog, R.TEXT, "PID:")
    assert not enabled(pid)
    press(find(dialog, R.CHECK_BOX, "PID:"))
    wait_for("the PID edit enabled", lambda: enabled(pid))
    table = find(window, R.TABLE)
    assert table.get_name() and table.get_n_rows() == 2, (table.get_name(), table.get_n_rows())
    assert all(b.get_name() for b in children(window) if b.get_role() == R.PUSH_BUTTON)
    path = find(dialog, R.COMBO_BOX).get_name().upper()
    row = next(r for r in range(table.get_n_rows())
               if table.get_accessible_at(r, 1).get_name().upper() == path)
    table.add_row_selection(row)
    mark = len(orca.said)
    press(wait_for("the unplug button enabled", lambda: next(
        (b for b in children(window) if b.get_name() == "拔出设备" and enabled(b)), None)))
    orca.expect(mark, [STATUS + "检测到设备已断开连接!"], failures, "the open chip unplugged")
    wait_for("the open button's caption", lambda: find(dialog, R.PUSH_BUTTON, "打开设备"))

    key("Escape")
    wait_for("the dialog ended by Escape", lambda: bench.poll() == 0)


def main():
    orca, failures = Orca(sys.argv[2]), []
    bench = subprocess.Popen([sys.argv[1]])
    try:
        run(bench, orca, failures)
    except (Failed, AssertionError) as failure:
        failures.append(str(failure))
    finally:
        orca.heard(0, [])
        for line in orca.said:
            print(f"orca: {line}")
        bench.terminate()
        try:
            bench.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            bench.kill()
    for failure in failures:
        print(f"a11y: FAILED: {failure}", file=sys.stderr)
    print(f"a11y: {int(not failures)} passed, {int(bool(failures))} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
