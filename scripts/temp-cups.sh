#!/usr/bin/env bash
# Runs a private CUPS scheduler for tests and ./run: its own configuration, spool, logs,
# ServerBin and DataDir under DIR, listening on 127.0.0.1:PORT and on the socket DIR/cups.sock
# only. Besides a default policy that allows everything it has the stock policy
# "authenticated": over the socket a client is known by its peer credentials, so a job on a
# queue with that policy is the job of whoever sent it, whatever name the client claims.
#   scripts/temp-cups.sh DIR PORT
# The stock filters, helpers and data are linked in from the system's CUPS; the folders
# DIR/serverbin/backend and DIR/data/model start empty, for the Installer to fill.
# DIR/env holds the variables that point CUPS clients (lp, lpstat, lpadmin) and the
# Installer at this scheduler's socket, as a desktop's clients reach the system's. The script
# ends by running cupsd in the foreground, so the caller owns the process and stops it with
# SIGTERM. Each NAME=VALUE after PORT is set in the environment of the scheduler's filters and
# backends (SetEnv), as an administrator configures them.
#   scripts/temp-cups.sh DIR PORT [NAME=VALUE ...]
set -euo pipefail
if [[ $# -lt 2 ]]; then
    echo "usage: $0 DIR PORT [NAME=VALUE ...]" >&2
    exit 2
fi
dir=$(realpath -m "$1")
port=$2
shift 2
system_serverbin=/usr/lib/cups
system_datadir=/usr/share/cups
cupsd=/usr/sbin/cupsd
[[ -x $cupsd ]] || { echo "$cupsd is not installed" >&2; exit 3; }

mkdir -p "$dir"/{etc/ppd,etc/ssl,serverbin/backend,data/model,spool/tmp,cache,state,log}
# Filters run as the unprivileged CUPS user, who must be able to reach them.
chmod 0755 "$dir" "$dir"/serverbin "$dir"/serverbin/backend "$dir"/data "$dir"/data/model
for entry in "$system_serverbin"/*; do
    name=$(basename "$entry")
    [[ $name == backend ]] || ln -sfn "$entry" "$dir/serverbin/$name"
done
for entry in "$system_datadir"/*; do
    name=$(basename "$entry")
    [[ $name == model ]] || ln -sfn "$entry" "$dir/data/$name"
done

if [[ $(id -u) -eq 0 ]]; then
    run_user=lp
    run_group=lp
    system_group=root
else
    # An ordinary user's scheduler runs everything as that user.
    run_user=$(id -un)
    run_group=$(id -gn)
    system_group=$(id -gn)
fi

cat >"$dir/etc/cups-files.conf" <<CONF
ServerRoot $dir/etc
ServerBin $dir/serverbin
DataDir $dir/data
DocumentRoot $system_datadir/doc-root
RequestRoot $dir/spool
TempDir $dir/spool/tmp
CacheDir $dir/cache
StateDir $dir/state
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
User $run_user
Group $run_group
SystemGroup $system_group
FileDevice No
PassEnv ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
CONF
for setting in "$@"; do
    echo "SetEnv ${setting%%=*} ${setting#*=}" >>"$dir/etc/cups-files.conf"
done

# DefaultAuthType Basic, as Debian has it: the policy's "AuthType Default" then asks a client on
# the socket for its peer credentials (PeerCred), and one on TCP for a password. With None it
# asks nobody anything, and the policy would let a client claim any name.
cat >"$dir/etc/cupsd.conf" <<CONF
LogLevel debug
MaxLogSize 0
Listen 127.0.0.1:$port
Listen $dir/cups.sock
Browsing Off
WebInterface No
DefaultAuthType Basic
<Location />
  Order allow,deny
  Allow 127.0.0.1
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
<Policy authenticated>
  <Limit Create-Job Print-Job Print-URI Validate-Job>
    AuthType Default
    Order deny,allow
  </Limit>
  <Limit Send-Document Send-URI Hold-Job Release-Job Restart-Job Purge-Jobs Set-Job-Attributes Create-Job-Subscription Renew-Subscription Cancel-Subscription Get-Notifications Reprocess-Job Cancel-Current-Job Suspend-Current-Job Resume-Job Cancel-My-Jobs Close-Job CUPS-Move-Job CUPS-Get-Document>
    AuthType Default
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
  <Limit CUPS-Add-Modify-Printer CUPS-Delete-Printer CUPS-Add-Modify-Class CUPS-Delete-Class CUPS-Set-Default>
    AuthType Default
    Require user @SYSTEM
    Order deny,allow
  </Limit>
  <Limit Pause-Printer Resume-Printer Enable-Printer Disable-Printer Pause-Printer-After-Current-Job Hold-New-Jobs Release-Held-New-Jobs Deactivate-Printer Activate-Printer Restart-Printer Shutdown-Printer Startup-Printer Promote-Job Schedule-Job-After Cancel-Jobs CUPS-Accept-Jobs CUPS-Reject-Jobs>
    AuthType Default
    Require user @SYSTEM
    Order deny,allow
  </Limit>
  <Limit Cancel-Job CUPS-Authenticate-Job>
    AuthType Default
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF

cat >"$dir/env" <<CONF
export CUPS_SERVER=$dir/cups.sock
export CUPS_SERVERBIN=$dir/serverbin
export CUPS_DATADIR=$dir/data
export CUPS_CACHEDIR=$dir/cache
CONF

exec "$cupsd" -f -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf"
