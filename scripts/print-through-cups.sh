#!/usr/bin/env bash
# Prints a document to the fax printer the way a user does, without touching the system's
# CUPS: starts a private cupsd (scripts/temp-cups.sh), runs the Installer from a build's
# bin folder into VELLUM_ROOT, prints the document with lp, waits for the job and stops cupsd.
#   scripts/print-through-cups.sh BIN_DIR VELLUM_ROOT DOCUMENT
# Prints the number of pages left in VELLUM_ROOT/c; exits non-zero if the job failed.
# Needs root: the printer takes no jobs of root, so a user made for the run (and removed after
# it) registers VELLUM_ROOT and prints; the page files are root's again afterwards.
set -euo pipefail
if [[ $# -ne 3 ]]; then
    echo "usage: $0 BIN_DIR VELLUM_ROOT DOCUMENT" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath "$1")
root=$(realpath -m "$2")
document=$(realpath "$3")
queue=Vellum_Zeru_3.0

if [[ $(id -u) -ne 0 ]]; then
    echo "$0 needs root: it makes a user who prints (the printer takes each job to its user's own root)" >&2
    exit 2
fi
work=$(mktemp -d /tmp/vellum-cups.XXXXXX)
chmod 0755 "$work" # the scheduler's filters run as its own user
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$here/temp-cups.sh" "$work/cups" "$port" >"$work/cupsd.out" 2>&1 &
cupsd_pid=$!
user=vzprint$$
cleanup() {
    kill "$cupsd_pid" 2>/dev/null || true
    wait "$cupsd_pid" 2>/dev/null || true
    userdel --force --remove "$user" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
useradd --create-home --user-group --shell /bin/sh "$user"
mkdir -p "$root"
chown "$user:" "$root"

for _ in $(seq 300); do
    [[ -f $work/cups/env && $(CUPS_SERVER=127.0.0.1:$port lpstat -r 2>/dev/null) == "scheduler is running" ]] && break
    kill -0 "$cupsd_pid" 2>/dev/null || { cat "$work/cupsd.out" >&2; echo "cupsd did not start" >&2; exit 1; }
    sleep 0.1
done
# shellcheck source=/dev/null
source "$work/cups/env"

# Root sets the machine up; the user sets themselves up with VELLUM_ROOT as their root. A
# program missing from the build (Sendwell, say) fails its step but not the printing.
(cd "$bin" && env -u VELLUM_ROOT VELLUM_MESSAGE_LOG=$work/messages.log ./Installer) ||
    tr '\t' '\n' <"$work/messages.log" | sed 's/\\n/\n/g' >&2
as_user=(runuser -u "$user" -- env "HOME=$(getent passwd "$user" | cut -d: -f6)" "CUPS_SERVER=$CUPS_SERVER"
    "CUPS_SERVERBIN=$CUPS_SERVERBIN" "CUPS_DATADIR=$CUPS_DATADIR")
(cd "$bin" && "${as_user[@]}" VELLUM_ROOT="$root" ./Installer >/dev/null 2>&1) || true
lpstat -p "$queue" >/dev/null

job=$("${as_user[@]}" lp -d "$queue" "$document" | sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p')
for _ in $(seq 1200); do
    lpstat -W not-completed -o "$queue" | grep -q -- "-$job " || break
    sleep 0.1
done
if ! grep -q "\[Job $job\] Job completed" "$work/cups/log/error_log"; then
    echo "The print job did not complete:" >&2
    grep "\[Job $job\]" "$work/cups/log/error_log" | grep -E '^[EW] ' >&2 || true
    exit 1
fi
chown -R --reference="$(dirname "$root")" "$root"
echo $(($(od -An -tu1 -N1 "$root/c/Page.tmp") - 1))
