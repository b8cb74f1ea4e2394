#!/usr/bin/env bash
# A private Postfix on 127.0.0.1 for mail tests: submission with STARTTLS (TLS required, AUTH
# only after it) and a second listener with TLS from the first byte, both requiring sign-in
# through Cyrus SASL (sasldb, PLAIN and LOGIN). It keeps every message for one domain in a
# Maildir, and refuses messages over a size it announces with SIZE. Root only.
#
#   private-postfix.sh start DIR SUBMISSION_PORT TLS_PORT CERT KEY USER DOMAIN SIZE_LIMIT
#       The password for USER comes in the environment variable PRIVATE_POSTFIX_PASSWORD (never
#       on a command line). Mail for any address @DOMAIN lands in DIR/mail/maildir/new/, one file
#       a message, lines ending in LF. Prints READY once both listeners take connections.
#   private-postfix.sh stop DIR
#       Stops the master by its pid file, at once.
set -euo pipefail

usage() {
    echo "usage: PRIVATE_POSTFIX_PASSWORD=... $0 start DIR SUBMISSION_PORT TLS_PORT CERT KEY USER DOMAIN SIZE_LIMIT" >&2
    echo "       $0 stop DIR" >&2
    exit 2
}

stop() {
    local dir=$1 pidfile="$1/queue/pid/master.pid" pid
    [[ -f $pidfile ]] || return 0
    pid=$(tr -dc 0-9 <"$pidfile")
    # The master ends its children when it gets SIGTERM.
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
if [[ $command == stop ]]; then
    stop "$dir"
    exit 0
fi
[[ $command == start && $# -eq 9 ]] || usage
submission=$3 tlsport=$4 cert=$5 key=$6 user=$7 domain=$8 sizelimit=$9
[[ $(id -u) -eq 0 ]] || { echo "a private Postfix needs root" >&2; exit 3; }
command -v postfix >/dev/null && command -v saslpasswd2 >/dev/null ||
    { echo "postfix and saslpasswd2 (packages postfix, sasl2-bin) are not installed" >&2; exit 3; }

myhost=mx.private-postfix.test
mkdir -p "$dir"/{config/sasl,queue,data,mail,keys}
# smtpd runs as postfix once it has read its keys: the folders on the way must be passable.
chmod 0711 "$dir" "$dir/config" "$dir/config/sasl"
chown postfix "$dir/data"
chown postfix "$dir/mail"
cp "$cert" "$dir/keys/cert.pem"
cp "$key" "$dir/keys/key.pem"
chmod 0600 "$dir/keys/key.pem"

# The password goes through a pipe (printf is built in) into the sasldb, which smtpd reads as postfix.
printf '%s' "${PRIVATE_POSTFIX_PASSWORD:?}" | saslpasswd2 -f "$dir/config/sasldb2" -c -p -u "$myhost" "$user"
chown root:postfix "$dir/config/sasldb2"
chmod 0640 "$dir/config/sasldb2"
cat >"$dir/config/sasl/smtpd.conf" <<EOF
pwcheck_method: auxprop
auxprop_plugin: sasldb
mech_list: PLAIN LOGIN
sasldb_path: $dir/config/sasldb2
EOF

cat >"$dir/config/main.cf" <<EOF
compatibility_level = 3.6
queue_directory = $dir/queue
data_directory = $dir/data
command_directory = /usr/sbin
daemon_directory = /usr/lib/postfix/sbin
shlib_directory = /usr/lib/postfix
meta_directory = /etc/postfix
mail_owner = postfix
setgid_group = postdrop
myhostname = $myhost
mydomain = private-postfix.test
mydestination =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
relay_domains =
alias_maps =
alias_database =
local_recipient_maps =
biff = no
maillog_file_prefixes = $dir
maillog_file = $dir/maillog
virtual_mailbox_domains = $domain
virtual_mailbox_base = $dir/mail
virtual_mailbox_maps = static:maildir/
virtual_minimum_uid = 1
virtual_uid_maps = static:$(id -u postfix)
virtual_gid_maps = static:$(id -g postfix)
message_size_limit = $sizelimit
smtpd_tls_cert_file = $dir/keys/cert.pem
smtpd_tls_key_file = $dir/keys/key.pem
smtpd_tls_security_level = encrypt
smtpd_tls_auth_only = yes
smtpd_sasl_auth_enable = yes
smtpd_sasl_type = cyrus
smtpd_sasl_path = smtpd
smtpd_relay_restrictions = permit_sasl_authenticated, reject
smtpd_recipient_restrictions = permit_sasl_authenticated, reject
EOF

# No service is chrooted, so that the private paths resolve.
cat >"$dir/config/master.cf" <<EOF
127.0.0.1:$submission inet n - n - - smtpd
127.0.0.1:$tlsport inet n - n - - smtpd -o smtpd_tls_wrappermode=yes
pickup    unix  n - n 60   1 pickup
cleanup   unix  n - n -    0 cleanup
qmgr      unix  n - n 300  1 qmgr
tlsmgr    unix  - - n 1000? 1 tlsmgr
rewrite   unix  - - n -    - trivial-rewrite
bounce    unix  - - n -    0 bounce
defer     unix  - - n -    0 bounce
trace     unix  - - n -    0 bounce
verify    unix  - - n -    1 verify
flush     unix  n - n 1000? 0 flush
proxymap  unix  - - n -    - proxymap
smtp      unix  - - n -    - smtp
relay     unix  - - n -    - smtp
showq     unix  n - n -    - showq
error     unix  - - n -    - error
retry     unix  - - n -    - error
discard   unix  - - n -    - discard
local     unix  - n n -    - local
virtual   unix  - n n -    - virtual
anvil     unix  - - n -    1 anvil
scache    unix  - - n -    1 scache
postlog   unix-dgram n - n - 1 postlogd
EOF

postfix -c "$dir/config" check
postfix -c "$dir/config" start
for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$submission") 2>/dev/null &&
        (exec 3<>"/dev/tcp/127.0.0.1/$tlsport") 2>/dev/null; then
        echo READY
        exit 0
    fi
    sleep 0.1
done
echo "Postfix did not start listening; its log:" >&2
cat "$dir/maillog" >&2 2>/dev/null || true
stop "$dir"
exit 1
