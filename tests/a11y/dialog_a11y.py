#!/usr/bin/python3
# What a screen reader hears from the configuration dialog and the bench window: reads them
# over AT-SPI (names, roles, states, relations, the event stream) while the bench program
# runs over two virtual chips, and presses their buttons through AT-SPI actions. Needs the
# X server and buses that scripts/a11ytest starts. Usage: dialog_a11y.py BENCH_PROGRAM
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

WAIT = 10.0  # seconds a condition may take
STATUS = "操作状态:"
R = Atspi.Role

# The caption-less controls in tab order and the caption a reader must give each: its own
# name (edits) or its labelled-by relation (combo boxes, whose name on this platform is the
# selected text).
LABELLED = [
    (1000, R.COMBO_BOX, "选择设备"),
    (1001, R.TEXT, "设备信息"),
    (1002, R.TEXT, "设备信息"),
    (1003, R.COMBO_BOX, "波特率"),
    (1004, R.COMBO_BOX, "停止位"),
    (1005, R.COMBO_BOX, "校验位"),
    (1006, R.COMBO_BOX, "数据位"),
    (1008, R.TEXT, "VID:"),
    (1010, R.TEXT, "PID:"),
    (1014, R.TEXT, "Manufacturer"),
    (1016, R.TEXT, "Product"),
    (1018, R.TEXT, "Serial"),
]


def pump():
    while GLib.MainContext.default().iteration(False):
        pass


def wait_for(what, probe):
    deadline = time.monotonic() + WAIT
    while True:
        pump()
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"not within {WAIT:.0f} s: {what() if callable(what) else what}")
        time.sleep(0.05)


def children(node):
    return [node.get_child_at_index(i) for i in range(node.get_child_count())]


def find(node, role, name=None):
    for child in children(node):
        if child.get_role() == role and (name is None or child.get_name() == name):
            return child
        found = find(child, role, name)
        if found is not None:
            return found
    return None


def labels_of(node):
    return [r.get_target(i).get_name() for r in node.get_relation_set()
            if r.get_relation_type() == Atspi.RelationType.LABELLED_BY
            for i in range(r.get_n_targets())]


def enabled(node):
    return node.get_state_set().contains(Atspi.StateType.ENABLED)


def press(node):
    names = [node.get_action_name(i) for i in range(node.get_n_actions())]
    verb = next(n for n in ("Press", "Toggle") if n in names)
    assert enabled(node), node.get_name()
    node.do_action(names.index(verb))


def expect(what, probe, want):
    wait_for(lambda: f"{what}: want {want!r}, have {probe()!r}", lambda: probe() == want)


def registered(bench):
    if bench.poll() is not None:
        raise AssertionError(f"the bench program ended with status {bench.returncode}")
    desktop = Atspi.get_desktop(0)
    return next((a for a in children(desktop) if a.get_name() == "KX4701SetCfgBench"), None)


def run(bench):
    app = wait_for("the bench program on the accessibility bus", lambda: registered(bench))
    dialog = wait_for("the dialog", lambda: find(app, R.DIALOG, "KX4701配置工具"))
    window = wait_for("the bench window", lambda: find(app, R.FILLER, "KX4701 虚拟芯片台"))
    controls = children(dialog)
    status = controls[-1]
    button = {c.get_name(): c for c in controls if c.get_role() == R.PUSH_BUTTON}

    heard = []
    listener = Atspi.EventListener.new(
        lambda event: heard.append((event.source, event.source.get_name())))
    listener.register("object:property-change:accessible-name")

    # Captions are read as shown; every caption-less control by the caption beside it.
    assert status.get_role() == R.LABEL and status.get_name() == STATUS + "就绪"
    assert set(button) == {"打开设备", "设置默认波特率", "设置配置", "获取配置", "恢复出厂设置"}
    unnamed = [c for c in controls if c.get_role() in (R.TEXT, R.COMBO_BOX)]
    assert len(unnamed) == len(LABELLED), [c.get_name() for c in unnamed]
    control = {ident: node for node, (ident, _, _) in zip(unnamed, LABELLED)}
    print("a11y: control, role, name, labelled by")
    for node, (ident, role, label) in zip(unnamed, LABELLED):
        name, by = node.get_name(), labels_of(node)
        print(f"a11y: {ident} {node.get_role_name()} {name!r} {by}")
        assert node.get_role() == role and name, (ident, name)
        assert (by == [label]) if role == R.COMBO_BOX else (name == label), (ident, name, by)
    table = find(window, R.TABLE)
    assert table.get_name() and table.get_n_rows() == 2, (table.get_name(), table.get_n_rows())
    assert all(b.get_name() for b in children(window) if b.get_role() == R.PUSH_BUTTON)

    # A failure, an open, a validation message box, a close, then the open chip unplugged.
    press(button["获取配置"])
    expect("the status after a command without a device", status.get_name,
           STATUS + "设备尚未打开!")
    press(button["打开设备"])
    expect("the status after opening", status.get_name, STATUS + "打开设备成功!")
    expect("the open button", button["打开设备"].get_name, "关闭设备")

    vid = control[1008]
    assert not enabled(vid)
    press(find(dialog, R.CHECK_BOX, "VID:"))
    wait_for("the VID edit enabled", lambda: enabled(vid))
    vid.set_text_contents("12")
    press(button["设置配置"])
    box = wait_for("the message box", lambda: next(
        (w for w in children(app) if w.get_role() in (R.ALERT, R.DIALOG) and w != dialog), None))
    wait_for("the message box text", lambda: find(box, R.LABEL, "VID长度不对"))
    press(find(box, R.PUSH_BUTTON))
    wait_for("the message box gone", lambda: box not in children(app))

    press(button["打开设备"])
    expect("the status after closing", status.get_name, STATUS + "关闭设备成功!")
    expect("the open button", button["打开设备"].get_name, "打开设备")
    press(button["打开设备"])
    expect("the status after opening again", status.get_name, STATUS + "打开设备成功!")

    path = control[1000].get_name().upper()
    row = next(r for r in range(table.get_n_rows())
               if table.get_accessible_at(r, 1).get_name().upper() == path)
    table.add_row_selection(row)
    press(wait_for("the unplug button enabled", lambda: next(
        (b for b in children(window) if b.get_name() == "拔出设备" and enabled(b)), None)))
    expect("the status after unplugging the open chip", status.get_name,
           STATUS + "检测到设备已断开连接!")
    expect("the open button", button["打开设备"].get_name, "打开设备")

    # Each change reached the accessibility bus as a name-change event.
    wanted = [(status, STATUS + m) for m in ("设备尚未打开!", "打开设备成功!", "关闭设备成功!",
                                             "检测到设备已断开连接!")]
    wanted += [(button["打开设备"], "关闭设备"), (button["打开设备"], "打开设备")]
    expect("name changes not heard", lambda: [n for s, n in wanted if (s, n) not in heard], [])
    listener.deregister("object:property-change:accessible-name")


def main():
    bench = subprocess.Popen([sys.argv[1]])
    try:
        run(bench)
    except AssertionError as failure:
        print(f"a11y: FAILED: {failure}", file=sys.stderr)
        return 1
    finally:
        bench.terminate()
        try:
            bench.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            bench.kill()
    print("a11y: 1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
