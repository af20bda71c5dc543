#!/usr/bin/env bash
# The tool against a real Wine prefix: the installation is found in the hives Wine itself wrote,
# the running KRY.exe (a Windows program of the prefix, run by Wine) is stopped, the new skin is
# installed and selected, and the product is started again through Wine. Only the processes this
# test started are stopped, and the prefix's wineserver is shut down at the end.
set -euo pipefail
bin=$1
source_dir=$2
command -v wine >/dev/null || { echo "wine is not installed"; exit 1; }
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
unset WINE SKINTOOL_MESSAGEBOX_LOG DBUS_SESSION_BUS_ADDRESS
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Mirelune_is1'
wine reg add "$key" /v InstallLocation /t REG_SZ /d 'C:\Program Files (x86)\Orlix\Mirelune' /reg:32 /f >/dev/null
wine reg add "$key" /v MajorVersion /t REG_DWORD /d 11 /reg:32 /f >/dev/null
wineserver -w   # the hives are written when the server ends

install="$WINEPREFIX/drive_c/Program Files (x86)/Orlix/Mirelune"
mkdir -p "$install/Skin" "$install/Update"
cp "$WINEPREFIX/drive_c/windows/system32/notepad.exe" "$install/KRY.exe"
appdata=$(grep -m1 '"AppData"=' "$WINEPREFIX/user.reg" | sed 's/.*="C:\\\\\(.*\)"/\1/; s/\\\\/\//g')
data="$WINEPREFIX/drive_c/$appdata/Orlix/Mirelune"
mkdir -p "$data"
printf '[Main]\r\nSkin=classic\r\n' > "$data/Main.ini"

# A tool folder of the test's own, with the real executable and compiler.
tool=$work/tool
mkdir -p "$tool"
cp -r "$source_dir/skin/classic" "$source_dir/skin/public" "$tool/"
cp "$bin/MireluneSkinTool" "$bin/skintool_delivery.so" "$tool/"
ln -s "$bin/rcc.exe" "$tool/rcc.exe"
# Nothing else of the desktop is wanted here: the file manager request goes nowhere.
mkdir -p "$work/path"
printf '#!/bin/sh\nexit 0\n' > "$work/path/xdg-open"
chmod +x "$work/path/xdg-open"
export PATH=$work/path:$PATH

export QT_QPA_PLATFORM=xcb
bash "$source_dir/scripts/with-xvfb.sh" 800x600 bash -euo pipefail -c '
    tool=$1 install=$2 data=$3 log=$4 source_dir=$5
    source "$source_dir/scripts/prefix-processes.sh"
    # The product of this prefix once it runs as the Windows program: first it is Wine with the
    # command line "wine ...KRY.exe", then the program itself with its Windows path as the first
    # word. Stopping the launcher would show nothing of the Make.
    product_pids() { prefix_pids "$WINEPREFIX" "^[Cc]:.*Orlix.Mirelune.(KRY|Kry)\.exe\$" | sort; }
    wine "C:\\Program Files (x86)\\Orlix\\Mirelune\\KRY.exe" >/dev/null 2>&1 &
    for _ in $(seq 1 300); do [ -n "$(product_pids)" ] && break; sleep 0.2; done
    before=$(product_pids)
    [ -n "$before" ] || { echo "FAIL: KRY.exe did not start as a Windows program under Wine"; exit 1; }
    comm=$(cat /proc/$(echo "$before" | head -1)/comm)
    echo "running product: pid $before, comm $comm, command line $(tr "\0" " " < /proc/$(echo "$before" | head -1)/cmdline)"

    SKINTOOL_MESSAGEBOX_LOG=$log "$tool/MireluneSkinTool" & app=$!
    trap "kill $app 2>/dev/null || true; stop_prefix_processes \"$WINEPREFIX\" Orlix.Mirelune" EXIT
    window=$(timeout 30 xdotool search --sync --onlyvisible --name "^Mirelune 11 Skin Tool\$" | head -1)
    sleep 1
    xdotool windowfocus --sync "$window"
    xdotool key Tab; xdotool type --delay 50 "Ocean"; xdotool key shift+Tab space
    for _ in $(seq 1 300); do [ -f "$install/Skin/ocean.rcc" ] && break; sleep 0.2; done
    [ -f "$install/Skin/ocean.rcc" ] || { echo "FAIL: the skin was not installed"; cat "$log"; exit 1; }
    after=""
    for _ in $(seq 1 150); do
        after=$(product_pids)
        [ -n "$after" ] && [ -z "$(comm -12 <(echo "$before") <(echo "$after"))" ] && break
        sleep 0.2
    done
    [ -n "$after" ] || { echo "FAIL: the product was not started again"; exit 1; }
    [ -z "$(comm -12 <(echo "$before") <(echo "$after"))" ] || { echo "FAIL: the old product still runs"; exit 1; }
    grep -q "Skin=ocean" "$data/Main.ini" || { echo "FAIL: Main.ini not switched"; exit 1; }
    grep -q "New skin is created successfully" "$log" || { echo "FAIL: no success message"; cat "$log"; exit 1; }
    echo "product restarted: pid $after"
    kill $after 2>/dev/null || true
    # Asked to end, the tool shuts down cleanly (so leak checkers see its whole run).
    kill -TERM $app
    timeout 20 tail --pid=$app -f /dev/null || { echo "FAIL: the tool did not end on SIGTERM"; exit 1; }
    status=0
    wait $app || status=$?
    [ "$status" -eq 0 ] || { echo "FAIL: the tool ended with status $status on SIGTERM"; exit 1; }
    echo "1 passed, 0 failed: real Wine prefix found, product stopped, skin installed, product restarted"
' _ "$tool" "$install" "$data" "$work/boxes.log" "$source_dir"
