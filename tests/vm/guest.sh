# Runs in the VM (scripts/vmtest): every test program against emulated chips on the guest's
# own hidraw nodes and USB bus. One function per group; the groups run in the order listed at
# the end (only those named in /vm/groups, when it names any). Writes the number of tests run
# to /tmp/count; exits non-zero on any failure, and on any skipped test (nothing here may
# depend on luck or on a missing device).
failed=0
total=0
groups=$(cat /vm/groups 2>/dev/null)

wanted() { [ -z "$groups" ] || echo " $groups " | grep -q " $1 "; }  # a group: listed, or no list

gtest() {  # name, then the command
    name=$1
    shift
    echo "== $name"
    "$@" >/tmp/gtest.out 2>&1
    rc=$?
    cat /tmp/gtest.out
    ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' /tmp/gtest.out)
    total=$((total + ${ran:-0}))
    if [ "$rc" -ne 0 ] || [ -z "$ran" ] || [ "$ran" -eq 0 ]; then
        echo "== $name FAILED (exit $rc)"
        failed=1
    elif grep -q '^\[  SKIPPED \]' /tmp/gtest.out; then
        echo "== $name FAILED: tests were skipped"
        failed=1
    fi
}

check() {  # name, verdict (0 passes), what failed
    total=$((total + 1))
    if [ "$2" -eq 0 ]; then
        echo "== $1"
    else
        echo "== $1 FAILED: $3"
        failed=1
    fi
}

# Waits (60 s at most) until FILE has N lines starting with /dev/hidraw.
await_nodes() {
    for _ in $(seq 600); do
        [ "$(grep -c '^/dev/hidraw' "$1")" -ge "$2" ] && return 0
        sleep 0.1
    done
    return 1
}

# An emulator program: its state on SIGUSR1, and no node left behind after SIGTERM.
# Arguments: the program, then its options (one chip with ids 1A2B:3C4D, one keyboard "Kbd").
program_check() {
    prog=$1
    shift
    out=/tmp/$(basename "$prog").out
    "$prog" "$@" >"$out" 2>&1 &
    pid=$!
    await_nodes "$out" 2
    nodes=$(sed -n 's|^\(/dev/hidraw[0-9]*\) .*|\1|p' "$out")
    kill -USR1 "$pid"
    await_nodes "$out" 4
    kill -TERM "$pid" 2>/dev/null
    wait "$pid"
    rc=$?
    for _ in $(seq 600); do  # until the kernel has removed the nodes (60 s at most)
        left=0
        for n in $nodes; do [ -e "$n" ] && left=1; done
        [ "$left" -eq 0 ] && break
        sleep 0.1
    done
    ok=1
    [ "$rc" -eq 0 ] && [ "$(grep -c ' keyboard product="Kbd"' "$out")" -eq 2 ] &&
        [ "$(grep -c ' chip vid=1A2B pid=3C4D ' "$out")" -eq 2 ] && [ "$left" -eq 0 ] && ok=0
    [ "$ok" -eq 0 ] || cat "$out"
    check "$(basename "$prog"): state printed on SIGUSR1, nodes removed on SIGTERM" "$ok" \
        "exit $rc; state twice, nodes gone after SIGTERM"
}

# hidraw alone (uhid devices), with the kernel's own uevents: no udevd yet.
group_uhid() {
    gtest "conformance over hidraw" env KX_EMULATED_HIDRAW=1 /vm/device_tests \
        --gtest_filter='LibraryConformance/hidraw.*'
    gtest "real kernel" /vm/vm_tests --gtest_filter='RealKernel.*'

    # The rule under `udevadm test` (which runs the probe): a chip is told by its report
    # descriptor, even without a USB parent; a keyboard is not.
    /vm/kx4701-uhid --chip=1A2B:3C4D --keyboard=Kbd >/tmp/rule.out 2>&1 &
    pid=$!
    await_nodes /tmp/rule.out 2
    ok=0
    for kind in chip keyboard; do
        node=$(sed -n "s|^/dev/\(hidraw[0-9]*\) $kind .*|\1|p" /tmp/rule.out)
        udevadm test "/sys/class/hidraw/$node" >/tmp/udev.out 2>&1 || ok=1
        # udevadm names a rule it cannot parse, or a program that failed, by file and line.
        grep -E '60-kx4701.rules:[0-9]+ .*([Ii]nvalid|[Uu]nknown|[Ii]gnor|[Ff]ail)' /tmp/udev.out &&
            ok=1
        grep -q 'Reading rules file: .*60-kx4701.rules' /tmp/udev.out || ok=1
        tagged=1
        grep -q '^KX4701_CHIP=1$' /tmp/udev.out && grep -q '^TAGS=.*:uaccess:' /tmp/udev.out &&
            tagged=0
        { [ "$kind" = chip ] && [ "$tagged" -eq 0 ]; } ||
            { [ "$kind" = keyboard ] && [ "$tagged" -eq 1 ]; } || ok=1
        [ "$ok" -eq 0 ] || { cat /tmp/rule.out /tmp/udev.out; break; }
    done
    kill -TERM "$pid" 2>/dev/null
    wait "$pid"
    check "udev rule: parsed; the chip tagged by its descriptor, the keyboard not" "$ok" \
        "udevadm test"

    program_check /vm/kx4701-uhid --chip=1A2B:3C4D --keyboard=Kbd
}

# udevd with Debian's rules and ours, as on a desktop; every later group sees its events.
start_udevd() {
    /lib/systemd/systemd-udevd --daemon --resolve-names=never
    for _ in $(seq 100); do
        [ -S /run/udev/control ] && break
        sleep 0.1
    done
    udevadm settle --timeout=30
    [ -S /run/udev/control ]
    check "systemd-udevd $(udevadm --version) running" $? "no control socket"
}

# Chips on the kernel's USB bus (USB/IP), with udevd's events.
group_usb() {
    # LANG=C, as a service or a minimal image starts the dialog.
    gtest "USB chips under udevd, LANG=C" env LANG=C /vm/vm_tests --gtest_filter='UsbChip.*'
    program_check /vm/kx4701-usbip --chip=1A2B:3C4D --keyboard=Kbd
}

# The command-line tool over uhid and USB chips, with udevd's events.
group_cli() {
    gtest "kx4701: every command over uhid and USB chips; strings under every locale" \
        env KX4701=/vm/kx4701 /vm/vm_tests --gtest_filter='KxCli.*'
    echo "== kx4701"
    sh /vm/cli.sh || failed=1
    total=$((total + $(cat /tmp/cli.count 2>/dev/null || echo 0)))
}

# Sixteen chips in flight (8 on the USB bus, 8 on uhid), twice over the same chips: every
# chip done each time, each number on one chip only.
group_jobs() {
    # The kernel frees the ports of an earlier group's chips a while after they went.
    for _ in $(seq 100); do
        [ "$(grep -c '^hs  *[0-9]* 004 ' /sys/devices/platform/vhci_hcd.0/status)" -ge 8 ] && break
        sleep 0.1
    done
    /vm/kx4701-usbip --chip --chip --chip --chip --chip --chip --chip --chip >/tmp/ju.out 2>&1 &
    usb=$!
    /vm/kx4701-uhid --chip --chip --chip --chip --chip --chip --chip --chip >/tmp/jh.out 2>&1 &
    uhid=$!
    await_nodes /tmp/ju.out 8 && await_nodes /tmp/jh.out 8 && udevadm settle --timeout=30
    printf '[identity]\nproduct = "Jobs"\nserial = "JB-{counter:04}"\n' >/tmp/j.toml
    for round in 1 2; do
        /vm/kx4701 provision /tmp/j.toml --rewrite --jobs 16 --state /tmp/j.state \
            --log /tmp/j.log --json >/tmp/j.json 2>/tmp/j.err
        ok=1
        grep -q '"done": 16,' /tmp/j.json && grep -q '"failed": 0,' /tmp/j.json && ok=0
        [ "$ok" -eq 0 ] || cat /tmp/j.err
        check "sixteen in flight, round $round: 16 done, 0 failed" "$ok" "see above"
    done
    kill -USR1 "$usb" "$uhid"
    for _ in $(seq 50); do
        [ "$(cat /tmp/ju.out /tmp/jh.out | grep -c 'serial="JB-')" -ge 16 ] && break
        sleep 0.1
    done
    ok=0
    for i in $(seq 1 32); do
        n=$(printf 'JB-%04d' "$i")
        [ "$(grep -c "\"serial\":\"$n\"" /tmp/j.log)" -eq 1 ] || ok=1
        # The second round's numbers each on one chip; the first round's on none.
        [ "$(cat /tmp/ju.out /tmp/jh.out | grep -c "serial=\"$n\"")" -eq $((i > 16)) ] || ok=1
    done
    [ "$ok" -eq 0 ] || cat /tmp/ju.out /tmp/jh.out /tmp/j.log
    check "sixteen in flight: each number logged once, carried by one chip" "$ok" "see above"
    kill -TERM "$usb" "$uhid" 2>/dev/null
    wait
}

# The device-list benchmark (scripts/vmtest --perf): 8 USB chips and 8 uhid chips.
group_perf() {
    /vm/kx4701-usbip --chip --chip --chip --chip --chip --chip --chip --chip >/tmp/usb.out 2>&1 &
    usb=$!
    /vm/kx4701-uhid --chip --chip --chip --chip --chip --chip --chip --chip >/tmp/uhid.out 2>&1 &
    uhid=$!
    ok=1
    await_nodes /tmp/usb.out 8 && await_nodes /tmp/uhid.out 8 && udevadm settle --timeout=30 &&
        /vm/kx_vm_refresh_perf 31 && /vm/kx_vm_cli_perf 15 /vm/kx4701 /vm/kx_list_floor && ok=0
    kill -TERM "$usb" "$uhid" 2>/dev/null
    wait
    check "refresh benchmark" "$ok" "see above"
}

if [ "${1:-test}" = perf ]; then
    start_udevd
    group_perf
else
    wanted uhid && group_uhid
    { wanted usb || wanted cli || wanted jobs; } && start_udevd
    wanted usb && group_usb
    wanted cli && group_cli
    wanted jobs && group_jobs
fi

echo "$total" >/tmp/count
exit "$failed"
