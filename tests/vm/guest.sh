# Runs in the VM (scripts/vmtest): every test program against emulated chips on the guest's
# own hidraw nodes. Writes the number of tests run to /tmp/count; exits non-zero on any
# failure, and on any skipped test (nothing here may depend on luck or on a missing device).
failed=0
total=0

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

gtest "conformance over hidraw" env KX_EMULATED_HIDRAW=1 /vm/device_tests \
    --gtest_filter='LibraryConformance/hidraw.*'
gtest "real kernel" /vm/vm_tests

# The udev rule file parses. It matches on the USB device's ids, which an emulated chip
# (no USB parent) does not have, so no tag is expected here.
echo "== udev rule"
/vm/kx4701-uhid --chip=1A2B:3C4D --keyboard=Kbd >/tmp/uhid.out 2>&1 &
pid=$!
for _ in $(seq 50); do
    [ "$(grep -c '^/dev/hidraw' /tmp/uhid.out)" -eq 2 ] && break
    sleep 0.1
done
node=$(sed -n 's|^/dev/\(hidraw[0-9]*\) chip vid=1A2B pid=3C4D .*|\1|p' /tmp/uhid.out)
if [ -z "$node" ]; then
    cat /tmp/uhid.out
    echo "== udev rule FAILED: kx4701-uhid made no node"
    failed=1
else
    udevadm test "/sys/class/hidraw/$node" >/tmp/udev.out 2>&1
    rc=$?
    total=$((total + 1))
    # udevadm names a rule it cannot parse by file and line.
    if [ "$rc" -ne 0 ] || grep -q '60-kx4701.rules:[0-9]' /tmp/udev.out ||
        ! grep -q 'Reading rules file: .*60-kx4701.rules' /tmp/udev.out; then
        cat /tmp/udev.out
        echo "== udev rule FAILED (exit $rc)"
        failed=1
    else
        echo "== udev rule: 60-kx4701.rules parsed without complaint (udevadm test on $node)"
    fi
fi
# kx4701-uhid itself: its state on SIGUSR1, and no node left behind after SIGTERM.
kill -USR1 "$pid"
for _ in $(seq 50); do
    [ "$(grep -c '^/dev/hidraw' /tmp/uhid.out)" -eq 4 ] && break
    sleep 0.1
done
kill -TERM "$pid" 2>/dev/null
wait "$pid"
rc=$?
total=$((total + 1))
if [ "$rc" -ne 0 ] || [ "$(grep -c '^/dev/hidraw[0-9]* keyboard product="Kbd"' /tmp/uhid.out)" -ne 2 ] ||
    [ -z "$node" ] || [ -e "/dev/$node" ]; then
    cat /tmp/uhid.out
    echo "== kx4701-uhid FAILED (exit $rc; state twice, nodes gone after SIGTERM)"
    failed=1
else
    echo "== kx4701-uhid: state printed on SIGUSR1, nodes removed on SIGTERM"
fi

echo "== kx4701"
sh /vm/cli.sh || failed=1
total=$((total + $(cat /tmp/cli.count 2>/dev/null || echo 0)))

echo "$total" >/tmp/count
exit "$failed"
