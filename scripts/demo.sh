#!/usr/bin/env bash
# Installs what is missing, builds, creates the demo product in a Wine prefix of its own and
# starts the tool against it. Without a display the tool runs under Xvfb and is driven from the
# keyboard as a user would: Tab to the name, type "Ocean", back to "Make", press it, confirm.
# The script then prints where the bundles, the product's log and a screenshot are.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/prefix-processes.sh
scripts/install-deps.sh
# Only what the demo runs: the tool, the demo product and the screenshot helper.
scripts/build.sh demo
bin=$PWD/build/bin
# A root shell on a bare machine has no session folder; give Qt one so it does not complain.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR=/tmp/runtime-$(id -u)
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
fi
export WINEPREFIX=$PWD/build/demo-prefix
export WINE=$bin/demo-wine   # the demo's stand-in for the Wine loader
# The product's stock bundles come from the pristine folders of the source tree.
"$bin/make-demo-prefix" "$WINEPREFIX" --stock-folder "$PWD/skin"
install_dir="$WINEPREFIX/drive_c/Program Files (x86)/Orlix/Mirelune"
# The product runs before the skin is made, as it would on a user's machine.
( "$WINE" 'C:\Program Files (x86)\Orlix\Mirelune\Kry.exe' >/dev/null 2>&1 & )

if [ -n "${DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-xcb}" != offscreen ]; then
    exec "$bin/MireluneSkinTool"
fi

shot=$PWD/build/demo-screenshot.png
rm -f "$bin/NewSkin/ocean.rcc"
export QT_QPA_PLATFORM=xcb
bash scripts/with-xvfb.sh 800x600 bash -euo pipefail -c '
    bin=$1 shot=$2 log=$3
    title="Mirelune 11 Skin Tool"
    "$bin/MireluneSkinTool" & tool=$!
    trap "kill $tool 2>/dev/null || true" EXIT
    window=$(timeout 20 xdotool search --sync --onlyvisible --name "^$title\$" | head -1)
    sleep 1
    xdotool windowfocus --sync "$window"
    xdotool key Tab; xdotool type --delay 50 "Ocean"; xdotool key shift+Tab space
    # The success box comes once the bundles are built; Return confirms it.
    for _ in $(seq 1 300); do [ -f "$bin/NewSkin/ocean.rcc" ] && break; sleep 0.2; done
    [ -f "$bin/NewSkin/ocean.rcc" ] || { echo "the skin was not made"; exit 1; }
    sleep 2
    xdotool key Return
    for _ in $(seq 1 100); do grep -q "loaded skin=ocean" "$log" 2>/dev/null && break; sleep 0.2; done
    sleep 1
    "$bin/xshot" "$shot" "$title" >/dev/null
' _ "$bin" "$shot" "$install_dir/Kry.log"
# Only the product of this demo's prefix; other copies on the machine are left alone.
stop_prefix_processes "$WINEPREFIX" 'Orlix.Mirelune.Kry.exe'
cat <<MSG
No display here: the tool ran under Xvfb and made the skin "ocean" from the keyboard.
  skin bundle:    $bin/NewSkin/ocean.rcc
  public bundle:  $bin/NewSkin/public.rcc
  installed in:   $install_dir/Skin/
  product log:    $install_dir/Kry.log
$(tail -n 2 "$install_dir/Kry.log" | sed 's/^/    /')
  screenshot:     $shot
MSG
