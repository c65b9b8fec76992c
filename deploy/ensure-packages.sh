#!/bin/sh
# Installs the Debian packages named as arguments that are not installed yet.
# Needs root only when something is missing.
set -eu
missing=""
for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
        missing="$missing $package"
    fi
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=300 update -qq
# shellcheck disable=SC2086
apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends $missing >/dev/null
