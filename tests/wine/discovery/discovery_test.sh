#!/bin/sh
# Registers a fake Gobi 2000 card (Lenovo, download mode) and a foreign USB serial port as present
# COM-port interfaces in a Wine prefix of this test's own, then checks that discovery_probe.exe
# finds the card through SetupAPI and reads its PortName from the registry.
# Usage: discovery_test.sh PREFIX discovery_probe.exe
set -eu
prefix=$(realpath -m "$1")
probe=$2
here=$(dirname "$0")
. "$here/../../../cmake/wine-lib.sh"
export WINEPREFIX="$prefix" WINEDEBUG=-all LC_ALL=C.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml="

"$here/../../../cmake/wine-run" "$prefix" --prepare
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true' EXIT

comport='{86E0D1E0-8089-11D0-9CE4-08003E301F73}'
classes="HKLM\\System\\CurrentControlSet\\Control\\DeviceClasses\\$comport"
enum='HKLM\SYSTEM\CurrentControlSet\Enum\USB'

reg() { wine_exec reg add "$@" /f </dev/null >/dev/null 2>&1; }

# add_port VID_PID INSTANCE PORT: one present COM-port interface of a USB device.
add_port() {
    id=$1 instance=$2 port=$3
    upper=$(echo "$id" | tr a-z A-Z)
    upperInstance=$(echo "$instance" | tr a-z A-Z)
    link="##?#usb#$id#$instance#{86e0d1e0-8089-11d0-9ce4-08003e301f73}"
    reg "$classes\\$link" /v DeviceInstance /t REG_SZ /d "USB\\$upper\\$upperInstance"
    reg "$classes\\$link\\#" /v SymbolicLink /t REG_SZ \
        /d "\\\\?\\usb#$id#$instance#{86e0d1e0-8089-11d0-9ce4-08003e301f73}"
    reg "$classes\\$link\\#\\Control" /v Linked /t REG_DWORD /d 1
    reg "$enum\\$upper\\$upperInstance" /v Class /t REG_SZ /d Ports
    reg "$enum\\$upper\\$upperInstance" /v ClassGUID /t REG_SZ \
        /d '{4D36E978-E325-11CE-BFC1-08002BE10318}'
    reg "$enum\\$upper\\$upperInstance\\Device Parameters" /v PortName /t REG_SZ /d "$port"
}

add_port vid_0403\&pid_6001 5\&11aa22bb\&0\&1 COM3
add_port vid_05c6\&pid_9204 6\&1a2b3c4d\&0\&2 COM7

actual=$(wine_exec "$probe" </dev/null 2>/dev/null | tr -d '\r')
expected='device -16 vid_05c6&pid_9204#6&1a2b3c4d&0&2#{86e0d1e0-8089-11d0-9ce4-08003e301f73}
port COM7'
if [ "$actual" != "$expected" ]; then
    echo "expected:"; echo "$expected"; echo "actual:"; echo "$actual"
    exit 1
fi
echo "found the card and its port: $actual"
