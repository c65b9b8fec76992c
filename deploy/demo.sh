#!/bin/sh
# Builds zembrovald, creates a demo store with one account, and serves the
# password-change dialogue on 127.0.0.1 port 1106 under tcpserver, in the
# foreground until Ctrl-C. Log entries appear on this terminal (--stderr).
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)

deploy/ensure-packages.sh cmake ninja-build g++ libcrypt-dev libinih-dev libgtest-dev \
    ucspi-tcp whois netcat-openbsd
cmake --preset dev >/dev/null
cmake --build --preset dev

demo="$top/build/demo"
mkdir -p "$demo"
cat >"$demo/quelmarauth.conf" <<CONF
# Demo store: every service uses the userdb file beside this file.
[*]
backend = userdb
userdb = userdb
hash = yescrypt
CONF
# A fresh store on every start, so that the password below is always right.
hash=$(printf '%s' demo | mkpasswd --stdin -m yescrypt)
printf '# name:hash:uid:gid:home:sysuser\ndemo:%s:1000:1000::\n' "$hash" >"$demo/userdb"

cat <<TEXT

zembrovald is listening on 127.0.0.1 port 1106 (Ctrl-C stops it).
The demo account is "demo" with the password "demo". From another terminal:

    printf 'user demo\\npass demo\\nnewpass n3w-secret\\nquit\\n' | nc 127.0.0.1 1106

or talk to it yourself with:  nc 127.0.0.1 1106
The store is $demo/userdb; log entries follow below.

TEXT
export QUELMARAUTH_CONFIG="$demo/quelmarauth.conf"
exec tcpserver -q -H -R -l0 127.0.0.1 1106 "$top/build/dev/sbin/zembrovald" --stderr
