#!/usr/bin/env bash
# A private Dovecot IMAP server on 127.0.0.1 for the notice tests: TLS from the first byte on
# one port, STARTTLS (required before sign-in) on another, one password-file user whose mail is
# the Maildir DIR/Maildir. Runs as whoever starts it, root or not: every Dovecot process runs as
# that user, with its sockets, state and log in DIR.
#
#   private-dovecot.sh start DIR TLS_PORT STARTTLS_PORT CERT KEY USER
#       The password for USER comes in the environment variable PRIVATE_DOVECOT_PASSWORD (never
#       on a command line); only its SHA512-CRYPT hash is written. Prints READY once both
#       listeners take connections.
#   private-dovecot.sh stop DIR
#       Stops the master by its pid file, at once.
#   private-dovecot.sh doveadm DIR ARGS...
#       Runs doveadm against the private instance (flags of the messages, say).
set -euo pipefail

usage() {
    echo "usage: PRIVATE_DOVECOT_PASSWORD=... $0 start DIR TLS_PORT STARTTLS_PORT CERT KEY USER" >&2
    echo "       $0 stop DIR | $0 doveadm DIR ARGS..." >&2
    exit 2
}

stop() {
    local pidfile="$1/run/master.pid" pid
    [[ -f $pidfile ]] || return 0
    pid=$(tr -dc 0-9 <"$pidfile")
    [[ -n $pid ]] && kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
}

[[ $# -ge 2 ]] || usage
command=$1
dir=$(realpath -m "$2")
case $command in
stop)
    stop "$dir"
    exit 0
    ;;
doveadm)
    shift 2
    exec doveadm -c "$dir/dovecot.conf" "$@"
    ;;
start) [[ $# -eq 7 ]] || usage ;;
*) usage ;;
esac
tlsport=$3 startport=$4 cert=$5 key=$6 user=$7
command -v /usr/sbin/dovecot >/dev/null && command -v doveadm >/dev/null &&
    command -v openssl >/dev/null ||
    { echo "dovecot and doveadm (package dovecot-imapd) are not installed" >&2; exit 3; }

# Dovecot runs no process as root: as root, the package's own users take the parts, and the mail
# is read as dovecot (the test's files in the Maildir stay readable to it).
if [[ $(id -u) -eq 0 ]]; then
    internal=dovecot group=dovecot login=dovenull mailuser=dovecot
else
    internal=$(id -un) group=$(id -gn) login=$(id -un) mailuser=$(id -un)
fi
mkdir -p "$dir"/{run,state,keys,Maildir/cur,Maildir/new,Maildir/tmp}
chmod 0711 "$dir"
chown -R "$mailuser:" "$dir/Maildir"
cp "$cert" "$dir/keys/cert.pem"
cp "$key" "$dir/keys/key.pem"
chmod 0600 "$dir/keys/key.pem"
# The hash is made from standard input, so the password shows on no command line.
hash=$(printf '%s' "${PRIVATE_DOVECOT_PASSWORD:?}" | openssl passwd -6 -stdin)
printf '%s:{SHA512-CRYPT}%s::::::\n' "$user" "$hash" >"$dir/passwd"
chown "$internal" "$dir/passwd"
chmod 0600 "$dir/passwd"

cat >"$dir/dovecot.conf" <<EOF
protocols = imap
listen = 127.0.0.1
base_dir = $dir/run
state_dir = $dir/state
instance_name = private-dovecot-$$
log_path = $dir/dovecot.log
info_log_path = $dir/dovecot.log
default_internal_user = $internal
default_internal_group = $group
default_login_user = $login
first_valid_uid = 0
mail_location = maildir:$dir/Maildir
ssl = required
ssl_cert = <$dir/keys/cert.pem
ssl_key = <$dir/keys/key.pem
disable_plaintext_auth = yes
auth_failure_delay = 0
auth_mechanisms = plain
passdb {
  driver = passwd-file
  args = scheme=SHA512-CRYPT $dir/passwd
}
userdb {
  driver = static
  args = uid=$(id -u "$mailuser") gid=$(id -g "$mailuser") home=$dir/Maildir
}
service imap-login {
  chroot =
  inet_listener imap {
    address = 127.0.0.1
    port = $startport
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = $tlsport
    ssl = yes
  }
}
service anvil {
  chroot =
}
service stats {
  unix_listener stats-reader {
    user = $internal
  }
  unix_listener stats-writer {
    user = $internal
  }
}
EOF

/usr/sbin/dovecot -c "$dir/dovecot.conf"
for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$tlsport") 2>/dev/null &&
        (exec 3<>"/dev/tcp/127.0.0.1/$startport") 2>/dev/null; then
        echo READY
        exit 0
    fi
    sleep 0.1
done
echo "Dovecot did not start listening; its log:" >&2
cat "$dir/dovecot.log" >&2 2>/dev/null || true
stop "$dir"
exit 1
