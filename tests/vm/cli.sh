# Runs in the VM (tests/vm/guest.sh): the installed command-line tool, kx4701, over emulated
# chips and a keyboard on the guest's own hidraw nodes (kx4701-uhid), its JSON read with
# grep (the guest has busybox only), the chips' stored state read back from the emulator.
# Writes the number of checks to /tmp/cli.count; exits 1 on any failure.
checks=0
failed=0
check() {  # description, then a command that must succeed
    what=$1
    shift
    checks=$((checks + 1))
    if ! "$@"; then
        echo "== kx4701: FAILED: $what"
        failed=1
    fi
}
has() { grep -q -- "$1" "$2"; }
count() { [ "$(grep -c -- "$1" "$2")" -eq "$3" ]; }
# Asks an emulator (PID, its output FILE, its number of devices) for its state lines and
# waits until they are all there (60 s at most).
dump() {
    before=$(wc -l <"$2")
    kill -USR1 "$1"
    for _ in $(seq 600); do
        [ "$(wc -l <"$2")" -ge $((before + $3)) ] && return 0
        sleep 0.1
    done
    echo "no state lines in $2 within 60 s"
    return 1
}
state() {  # the emulator's state lines, fresh
    dump "$uhid" /tmp/cu.out 3
}
# Waits for a background run (PID) to end by itself (SECONDS at most), else stops it.
finish() {
    for _ in $(seq $(($2 * 10))); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    kill -TERM "$1" 2>/dev/null
    wait "$1"
}
run() {  # expected exit code, then kx4701's arguments; stdout in /tmp/k.out
    want=$1
    shift
    /vm/kx4701 "$@" >/tmp/k.out 2>/tmp/k.err
    got=$?
    [ "$got" -eq "$want" ] || { echo "kx4701 $*: exit $got, not $want"; cat /tmp/k.out /tmp/k.err; return 1; }
}

/vm/kx4701-uhid --chip --chip=1A2B:3C4D --keyboard=Kbd >/tmp/cu.out 2>&1 &
uhid=$!
for _ in $(seq 50); do
    [ "$(grep -c '^/dev/hidraw' /tmp/cu.out)" -ge 3 ] && break
    sleep 0.1
done
chip=$(sed -n 's|^\(/dev/hidraw[0-9]*\) chip vid=1A2B .*|\1|p' /tmp/cu.out)
kbd=$(sed -n 's|^\(/dev/hidraw[0-9]*\) keyboard .*|\1|p' /tmp/cu.out)

# What each command prints is checked in vm_tests (KxCli); here, what the chips store.
check "set-serial" run 0 set-serial "$chip" --baud 115200 --parity even --data-bits 7 --stop-bits 2
state
check "the chip stores 115200 7E2" has "vid=1A2B pid=3C4D .*rate=13,2,2,3,0x30" /tmp/cu.out
check "set-identity" run 0 set-identity "$chip" --vid 0A0B --pid 00C1 --manufacturer ACME \
    --product Board --serial S-1
state
check "the chip stores the identity" has 'vid=0A0B pid=00C1 max_power=50 manufacturer="ACME" product="Board" serial="S-1"' /tmp/cu.out
check "the old selector spelling" run 2 set-serial --serial S-1 --baud 9600
# A uhid chip shows a written identity only when it is created again: named by its path here.
check "options before the command" run 0 --json show "$chip"
check "the stored serial shown" has '"text": "S-1"' /tmp/k.out
check "a write to the keyboard" run 1 set-serial "$kbd" --baud 9600
state
check "the keyboard got no feature report" has 'keyboard product="Kbd" set_reports=0 get_reports=0' /tmp/cu.out
kill -TERM "$uhid"
wait "$uhid"

# Provisioning while chips are plugged one after another.
cat >/tmp/p.toml <<'TOML'
[serial]
baud = 57600
[identity]
product = "VM board"
serial = "VM-{counter:04}"
TOML
/vm/kx4701 provision /tmp/p.toml --watch --count 5 --log /tmp/p.log >/tmp/p.out 2>&1 &
prov=$!
pids=""
for i in 1 2 3 4 5; do
    sleep 1
    /vm/kx4701-uhid --chip >"/tmp/pu$i.out" 2>&1 &
    pids="$pids $!"
done
finish "$prov" 30
check "provision ended by itself after five chips" has "5 done, 0 skipped, 0 failed; next number 6" /tmp/p.out
check "the log has five lines" count '"result":"done"' /tmp/p.log 5
for i in 1 2 3 4 5; do
    check "number $i taken once" count "\"serial\":\"VM-000$i\"" /tmp/p.log 1
done
i=0
for p in $pids; do
    i=$((i + 1))
    dump "$p" "/tmp/pu$i.out" 1
done
cat /tmp/pu*.out >/tmp/pu.all
for i in 1 2 3 4 5; do
    check "a chip carries VM-000$i" count "product=\"VM board\" serial=\"VM-000$i\" rate=11," /tmp/pu.all 1
done
for p in $pids; do
    kill -TERM "$p"
    wait "$p"
done
# Eight in flight while chips are plugged in bursts: four on uhid, then four on the USB bus
# (these leave and come back after their identity write, followed by their port).
/vm/kx4701 provision /tmp/p.toml --watch --jobs 8 --count 8 --state /tmp/p8.state \
    --log /tmp/p8.log >/tmp/p8.out 2>&1 &
prov=$!
sleep 1
/vm/kx4701-uhid --chip --chip --chip --chip >/tmp/b1.out 2>&1 &
b1=$!
sleep 1
/vm/kx4701-usbip --chip --chip --chip --chip >/tmp/b2.out 2>&1 &
b2=$!
finish "$prov" 90
check "eight in flight: all done" has "8 done, 0 skipped, 0 failed; next number 9" /tmp/p8.out
dump "$b1" /tmp/b1.out 4
dump "$b2" /tmp/b2.out 4
cat /tmp/b1.out /tmp/b2.out >/tmp/b.all
for i in 1 2 3 4 5 6 7 8; do
    check "eight in flight: number $i logged once" count "\"serial\":\"VM-000$i\"" /tmp/p8.log 1
    check "eight in flight: a chip carries VM-000$i" count "serial=\"VM-000$i\" rate=11," /tmp/b.all 1
done
kill -TERM "$b1" "$b2"
wait "$b1" "$b2"
cat /tmp/p8.out

[ "$failed" -eq 0 ] && echo "== kx4701: $checks checks passed"
cat /tmp/p.out
echo "$checks" >/tmp/cli.count
exit "$failed"
