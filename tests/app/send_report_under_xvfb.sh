#!/usr/bin/env bash
# The real tool without its resource compiler, under Xvfb against a fresh demo product: Make
# fails with "Not find rcc.exe", the crash dialog appears, "send bug report" leads through the
# Send Assistant to the desktop's mail program (the mailto handler of a private desktop), which
# mails the report to a local SMTP server (aiosmtpd on 127.0.0.1). The received mail must carry
# bugreport.txt with this failure's report and the contact typed in, and screenshot.png.
# Every wait is bounded; screenshots land in the artifact folder.
set -euo pipefail
bin=$1
src=$2
build_kind=${3:-plain}
if [ "$build_kind" = thread-sanitizer ]; then
    echo "skipped: a ThreadSanitizer build runs the tool without the crash reporter"
    exit 77
fi
artifacts=${SKINTOOL_ARTIFACT_DIR:-/tmp/skintool-test-artifacts}
mkdir -p "$artifacts"
work=$(mktemp -d)
server=
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A tool folder of the test's own: the stock skin, the executable and its delivery module, but no
# rcc.exe.
tool=$work/tool
mkdir -p "$tool"
cp -r "$src/skin/classic" "$src/skin/public" "$tool/"
cp "$bin/MireluneSkinTool" "$bin/skintool_delivery.so" "$tool/"
export WINEPREFIX=$work/prefix WINE=$bin/demo-wine QT_QPA_PLATFORM=xcb
unset SKINTOOL_MESSAGEBOX_LOG DBUS_SESSION_BUS_ADDRESS
"$bin/make-demo-prefix" "$WINEPREFIX" >/dev/null

# A private desktop: session folder (so no other copy of the tool counts as running), data and
# config homes whose only mailto handler is the mail program below, temporary folder.
mkdir -p "$work/runtime" "$work/data/applications" "$work/config" "$work/tmp" "$work/mail"
chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
export XDG_DATA_DIRS=$work/none XDG_CONFIG_DIRS=$work/none TMPDIR=$work/tmp
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID

# The mail server, on a free loopback port; it ends by itself after its lifetime.
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
/usr/bin/python3 "$src/tests/crash/send/servers/smtp_server.py" --port "$port" --out "$work/mail" \
    --lifetime 240 >"$work/smtp.log" 2>&1 &
server=$!
for _ in $(seq 1 100); do grep -q ready "$work/smtp.log" && break; sleep 0.1; done
grep -q ready "$work/smtp.log" || { echo "FAIL: the mail server did not start"; cat "$work/smtp.log"; exit 1; }

cat >"$work/data/applications/test-mail.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Test Mail
Exec=/usr/bin/python3 $src/tests/app/mail_program.py 127.0.0.1 $port $work/mail-program.log %u
MimeType=x-scheme-handler/mailto;
EOF
xdg-mime default test-mail.desktop x-scheme-handler/mailto

bash "$src/scripts/with-xvfb.sh" 1024x768 bash -euo pipefail -c '
    tool=$1 bin=$2 artifacts=$3 work=$4
    # The first shown window whose title matches $1 (bounded wait); its id is printed.
    wait_window() {
        for _ in $(seq 1 300); do
            w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) || true
            [ -n "$w" ] && { echo "$w"; return 0; }
            sleep 0.1
        done
        return 1
    }
    size() { xdotool getwindowgeometry "$1" 2>/dev/null | grep Geometry || true; }
    # The assistant'"'"'s next page: its window, once it has another size than the page before.
    next_page() {
        for _ in $(seq 1 300); do
            w=$(xdotool search --onlyvisible --name "^Send Assistant" 2>/dev/null | head -1) || true
            [ -n "$w" ] && [ "$(size "$w")" != "$1" ] && { echo "$w"; return 0; }
            sleep 0.1
        done
        return 1
    }
    keys() { timeout 20 xdotool windowfocus --sync "$1" key --delay 60 "${@:2}"; }
    typed() { timeout 20 xdotool windowfocus --sync "$1" type --delay 30 "$2"; }
    shot() { sleep 0.5; "$bin/xshot" "$artifacts/$1.png" >/dev/null; }
    fail() {
        echo "FAIL: $1"
        shot send-report-failure
        xwininfo -root -tree | grep -v "has no name" || true
        # A tool still running shows where each of its threads stands.
        if kill -0 $pid 2>/dev/null; then
            timeout 60 gdb -p $pid -batch -ex "thread apply all bt 25" 2>&1 | grep -E "^(#|Thread)" || true
        fi
        # A tool that failed on its own wrote a report beside itself.
        head -80 "$tool/bugreport.txt" 2>/dev/null || true
        cat "$work/tool.log"
        exit 1
    }

    "$tool/MireluneSkinTool" >"$work/tool.log" 2>&1 & pid=$!
    trap "kill $pid 2>/dev/null || true" EXIT
    main=$(wait_window "^Mirelune 11 Skin Tool\$") || fail "no main window"
    # Make has the focus; the name field is next.
    keys "$main" Tab
    typed "$main" "Ocean"
    keys "$main" shift+Tab space
    dialog=$(wait_window "^MireluneSkinTool\$") || fail "no crash dialog (titled as its settings say) after Make"
    shot send-report-dialog
    # "send bug report" has the focus.
    keys "$dialog" Return
    contact=$(wait_window "^Send Assistant\$") || fail "no Send Assistant"
    typed "$contact" "Ada Tester"
    keys "$contact" Return
    typed "$contact" "ada@example.org"
    shot send-report-contact
    page=$(size "$contact")
    keys "$contact" Return Return Return   # past "remember me" to Continue, and press it
    details=$(next_page "$page") || fail "no details page"
    typed "$details" "Pressed Make without rcc.exe"
    shot send-report-details
    keys "$details" shift+Tab shift+Tab shift+Tab
    shot send-report-details-continue
    page=$(size "$details")
    keys "$details" Return
    screenshot=$(next_page "$page") || fail "no screenshot page"
    shot send-report-screenshot-page
    keys "$screenshot" Return
    # The report is mailed in the background; the dialog stays until the user decides.
    for _ in $(seq 1 300); do [ -e "$work/mail/1.json" ] && break; sleep 0.1; done
    shot send-report-after-sending
    [ -e "$work/mail/1.json" ] || { echo "FAIL: no mail arrived"; cat "$work/mail-program.log" 2>/dev/null; exit 1; }
    # Close the application from the dialog: the tool ends with the reporter'"'"'s exit code.
    dialog=$(wait_window "^MireluneSkinTool\$") || fail "the dialog went away"
    keys "$dialog" Tab Tab Tab Tab Tab Return
    status=0
    timeout 30 tail --pid=$pid -f /dev/null || fail "the tool did not end"
    wait $pid || status=$?
    trap - EXIT
    [ "$status" -eq 3 ] || { echo "FAIL: the tool ended with $status, not the reporter'"'"'s exit code 3"; exit 1; }
' _ "$tool" "$bin" "$artifacts" "$work"

# Nobody knows whether the user sent what the mail program was handed: the report was saved too.
grep -q "Not find rcc.exe" "$tool/bugreport.txt" 2>/dev/null ||
    { echo "FAIL: the report handed to the mail program was not saved"; exit 1; }

# The mail as an independent parser reads it.
/usr/bin/python3 - "$src/tests/crash/send/servers/decode_message.py" "$work/mail" "$build_kind" <<'EOF'
import base64, json, re, subprocess, sys
decoder, folder, build_kind = sys.argv[1], sys.argv[2], sys.argv[3]
envelope = json.load(open(folder + "/1.json"))
mail = json.loads(subprocess.run(["/usr/bin/python3", decoder, folder + "/1.eml"], check=True,
                                  capture_output=True, timeout=30).stdout)
failures = []
def check(ok, what):
    if not ok:
        failures.append(what)
check(envelope["to"] == ["support@mirelune.example"], "recipient: %r" % envelope["to"])
check(mail["subject"] == "KRY v10 Pelliform bug report", "subject: %r" % mail["subject"])
names = [a["name"] for a in mail["attachments"]]
check("bugreport.txt" in names and "screenshot.png" in names, "attachments: %r" % names)
for a in mail["attachments"]:
    data = base64.b64decode(a["data"])
    if a["name"] == "bugreport.txt":
        report = data.decode("utf-8")
        lines = [r"exception message *: Not find rcc\.exe\r?$", r"contact name *: Ada Tester\r?$",
                 r"contact email *: ada@example\.org\r?$", r"^Pressed Make without rcc\.exe",
                 r"Button_MakeClick"]
        for line in lines:
            check(re.search(line, report, re.M), "report line %r in:\n%s" % (line, report[:1500]))
    if a["name"] == "screenshot.png":
        check(data.startswith(b"\x89PNG\r\n\x1a\n"), "screenshot.png is no PNG")
for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
EOF
echo "1 passed, 0 failed: Make without rcc.exe, crash dialog, Send Assistant, mail received with the report"
