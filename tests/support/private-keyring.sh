#!/usr/bin/env bash
# Runs a command against a private desktop keyring: a D-Bus session of its own
# (dbus-run-session) with gnome-keyring-daemon's Secret Service, its login keyring unlocked,
# and a private HOME, XDG_RUNTIME_DIR (0700) and XDG_DATA_HOME in a temporary folder that is
# removed afterwards. Nothing of the caller's session is used or touched: DISPLAY,
# WAYLAND_DISPLAY and DBUS_SESSION_BUS_ADDRESS are unset, so no prompt can open on a display.
#
#   private-keyring.sh COMMAND [ARGUMENT...]
#       The command sees VELLUM_TEST_KEYRING_HOME (the private HOME, which holds the keyring
#       files) and VELLUM_TEST_KEYRING_PID (the keyring daemon). Exits with the command's code,
#       77 when a program the keyring needs is not installed, 1 when the keyring does not come up.
#       The daemon and the bus end before the script does, also when it is interrupted.
set -euo pipefail

# Waits are bounded: 100 looks, 0.1 s apart.
readonly LOOKS=100

bus_call() {
    dbus-send --session --print-reply "$@" 2>/dev/null
}

# Inside the private session: start and unlock the keyring, run the command, stop the keyring.
inside() {
    # The unlock password is the test keyring's own, given on standard input (printf is a builtin,
    # so it is on no command line).
    printf '%s' 'vellum-test-keyring' |
        gnome-keyring-daemon --foreground --unlock --components=secrets >"$HOME/daemon.log" 2>&1 &
    daemon=$!
    trap 'kill -TERM "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true' EXIT
    # --unlock succeeds even when unlocking failed: wait for the service on the bus (asking the bus,
    # which starts nothing), and then for the login collection to be open.
    local ready=""
    for _ in $(seq $LOOKS); do
        if bus_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
            string:org.freedesktop.secrets | grep -q 'boolean true' &&
            bus_call --dest=org.freedesktop.secrets /org/freedesktop/secrets/collection/login \
                org.freedesktop.DBus.Properties.Get string:org.freedesktop.Secret.Collection string:Locked |
            grep -q 'boolean false'; then
            ready=yes
            break
        fi
        sleep 0.1
    done
    if [[ -z $ready ]]; then
        echo "private-keyring: the login keyring did not come up unlocked; the daemon said:" >&2
        cat "$HOME/daemon.log" >&2
        exit 1
    fi
    VELLUM_TEST_KEYRING_PID=$daemon "$@"
}

if [[ ${1:-} == --inside ]]; then
    shift
    inside "$@"
    exit
fi

[[ $# -ge 1 ]] || {
    echo "usage: $0 COMMAND [ARGUMENT...]" >&2
    exit 2
}
for program in dbus-run-session dbus-send gnome-keyring-daemon secret-tool; do
    if ! command -v "$program" >/dev/null; then
        echo "private-keyring: $program is not installed (packages dbus-daemon, dbus-bin, gnome-keyring," \
            "libsecret-tools); skipping" >&2
        exit 77
    fi
done

root=$(mktemp -d /tmp/vellum-keyring.XXXXXX)
session=""
cleanup() {
    # The session has a process group of its own: the bus, the daemon and the command end with it.
    if [[ -n $session ]]; then
        kill -TERM -- "-$session" 2>/dev/null || true
        wait "$session" 2>/dev/null || true
    fi
    rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 143' TERM INT
mkdir -m 0700 "$root/home" "$root/run"
mkdir -p -m 0700 "$root/home/.local/share"

env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
    HOME="$root/home" XDG_RUNTIME_DIR="$root/run" XDG_DATA_HOME="$root/home/.local/share" \
    XDG_CONFIG_HOME="$root/home/.config" XDG_CACHE_HOME="$root/home/.cache" \
    VELLUM_TEST_KEYRING_HOME="$root/home" \
    setsid dbus-run-session -- "$0" --inside "$@" &
session=$!
status=0
wait "$session" || status=$?
session=""
exit $status
