#!/bin/sh
# Checks the Debian package built by `cmake --workflow --preset package`: its
# control data and file list with dpkg-deb, then a full password change from
# its own files, extracted into a temporary folder (nothing is installed).
# Usage: packaging/check-package.sh [BUILD_FOLDER]   (default build/package)
set -eu

build=${1:-build/package}
fail() {
    echo "check-package: $*" >&2
    exit 1
}

set -- "$build"/zembrovald_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected exactly one zembrovald_*.deb in $build"
deb=$1
work=$(mktemp -d /tmp/zpkg.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM

# Control data.
[ "$(dpkg-deb -f "$deb" Package)" = zembrovald ] || fail "wrong package name"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libc6 libcrypt1; do
    echo "$depends" | grep -Eq "(^|, )$needed( |,|$)" || fail "Depends lacks $needed: $depends"
done
dpkg-deb -e "$deb" "$work/control"
[ "$(cat "$work/control/conffiles")" = /etc/quelmarauth/quelmarauth.conf ] ||
    fail "the sample configuration is not the one conffile"

# File list: what an administrator needs, and nothing of the build's own.
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$work/files"
for path in \
    /usr/sbin/zembrovald \
    /usr/sbin/quelmarauth \
    /usr/include/quelmarauth.h \
    /etc/quelmarauth/quelmarauth.conf \
    /usr/share/man/man8/zembrovald.8.gz \
    /usr/share/man/man8/quelmarauth.8.gz \
    /usr/share/man/man5/quelmarauth.conf.5.gz \
    /usr/share/doc/zembrovald/examples/README.md \
    /usr/share/doc/zembrovald/examples/tcpserver/run \
    /usr/share/doc/zembrovald/examples/xinetd/zembrovald \
    /usr/share/doc/zembrovald/examples/systemd/zembrovald.socket \
    /usr/share/doc/zembrovald/examples/systemd/zembrovald@.service \
    /usr/share/doc/zembrovald/examples/stunnel/run \
    /usr/share/doc/zembrovald/examples/stunnel/zembrovald-tls.conf; do
    grep -qx "$path" "$work/files" || fail "missing $path"
done
grep -Eq '^/usr/lib/[^/]+/libquelmarauth\.so\.1$' "$work/files" || fail "missing libquelmarauth.so.1"
grep -Eq '^/usr/lib/[^/]+/quelmarauth/pam\.so$' "$work/files" || fail "missing the pam store module"
if grep -E 'bench|test|demo|ensure-packages|/usr/local|/usr/etc' "$work/files"; then
    fail "files that do not belong in the package"
fi

dpkg-deb -x "$deb" "$work/root"
root=$work/root
program=$root/usr/sbin/zembrovald
library=$(echo "$root"/usr/lib/*/libquelmarauth.so.1)
[ -x "$program" ] || fail "the program is not executable"
[ -x "$root/usr/share/doc/zembrovald/examples/tcpserver/run" ] || fail "tcpserver/run is not executable"
[ -x "$root/usr/share/doc/zembrovald/examples/stunnel/run" ] || fail "stunnel/run is not executable"
# Without QUELMARAUTH_CONFIG the library reads the file the package installs.
grep -aq /etc/quelmarauth/quelmarauth.conf "$library" ||
    fail "the library does not default to /etc/quelmarauth/quelmarauth.conf"
if command -v mandoc >/dev/null; then
    for page in "$root"/usr/share/man/man*/*.gz; do
        zcat "$page" | mandoc -T lint -W warning || fail "mandoc finds fault with $page"
    done
fi

# Store modules are opened only when a configuration names their backend:
# a library that only modules need (libpam0g for pam.so, ...) is suggested,
# never a dependency of every site.
suggests=$(dpkg-deb -f "$deb" Suggests)
names_package() { echo "$1" | grep -Eq "(^|, )$2( |,|$)"; }
needed() { objdump -p "$1" | awk '$1 == "NEEDED" { print $2 }'; }
# The installed package that holds a library; this one for its own.
package_of() {
    if [ -n "$(find "$root" -name "$1" -print -quit)" ]; then
        echo zembrovald
    else
        dpkg -S "*/$1" 2>/dev/null | head -n 1 | cut -d: -f1
    fi
}
core_packages=$(for file in "$program" "$root/usr/sbin/quelmarauth" "$library"; do needed "$file"; done |
    sort -u | while read -r soname; do package_of "$soname"; done)
modules=0
for module in "$root"/usr/lib/*/quelmarauth/*.so; do
    modules=$((modules + 1))
    for soname in $(needed "$module"); do
        package=$(package_of "$soname")
        [ -n "$package" ] || fail "no installed package holds $soname, which $(basename "$module") needs"
        [ "$package" != zembrovald ] || continue
        echo "$core_packages" | grep -qx "$package" && continue
        ! names_package "$depends" "$package" ||
            fail "Depends names $package, which only $(basename "$module") needs: $depends"
        names_package "$suggests" "$package" ||
            fail "Suggests lacks $package, which $(basename "$module") needs: $suggests"
    done
done
[ "$modules" -gt 0 ] || fail "no store modules in the package"

# A full change from the extracted files: the program, its library (not one
# installed on this machine) and the sample configuration as shipped.
libdir=$(dirname "$library")
LD_LIBRARY_PATH=$libdir ldd "$program" | grep -q "$libdir/libquelmarauth.so.1" ||
    fail "the program does not load the extracted library"
mkdir "$work/store"
cp "$root/etc/quelmarauth/quelmarauth.conf" "$work/store/quelmarauth.conf"
hash=$(printf '%s\n' old-secret | openssl passwd -6 -stdin)
printf '# name:hash:uid:gid:home:sysuser\nalice:%s:1001:1001::\n' "$hash" >"$work/store/userdb"
printf 'user alice\r\npass old-secret\r\nnewpass n3w-secret\r\nquit\r\n' |
    LD_LIBRARY_PATH=$libdir QUELMARAUTH_CONFIG=$work/store/quelmarauth.conf \
        "$program" --stderr >"$work/replies" 2>"$work/log" || fail "the dialogue ended with status $?"
printf '200 zembrovald v1.1.2 hello, who are you?\r\n200 Your password please.\r\n200 Your new password please.\r\n200 Password changed, thank-you.\r\n200 Bye.\r\n' >"$work/expected"
cmp -s "$work/expected" "$work/replies" || fail "unexpected replies: $(cat -A "$work/replies")"
[ "$(cat "$work/log")" = "changed password for alice" ] || fail "unexpected log: $(cat "$work/log")"
# The sample configuration asks for yescrypt hashes.
grep -q '^alice:\$y\$' "$work/store/userdb" || fail "the new hash is not yescrypt: $(cat "$work/store/userdb")"
echo "check-package: $deb is fine"
