#!/bin/sh
# Installs what the build and the tests need, then builds and runs every test
# twice: a hardened release build with warnings as errors, and a build under
# AddressSanitizer and UndefinedBehaviorSanitizer. Then builds the Debian
# package in build/package and checks it. Ends with a short benchmark run so
# that the benchmark program keeps working.
set -eu
cd "$(dirname "$0")/.."

deploy/ensure-packages.sh cmake ninja-build g++ libcrypt-dev libinih-dev libgtest-dev \
    libnss-wrapper ucspi-tcp util-linux binutils xinetd systemd stunnel4 openssl strace mandoc \
    dpkg-dev libpam0g-dev libpam-wrapper libpam-modules libsqlite3-dev libpq-dev postgresql \
    clang-14 libclang-rt-14-dev

cmake --workflow --preset ci
cmake --workflow --preset asan
cmake --workflow --preset package
packaging/check-package.sh build/package
# Short fuzzing runs of every harness (a separate clang build).
if [ -x tests/fuzz/run-short.sh ]; then
    tests/fuzz/run-short.sh
fi
for bench in build/ci/bench/zembrovald_bench build/ci/bench/*/zembrovald_*_bench; do
    if [ -x "$bench" ]; then
        "$bench" --quick
    fi
done
