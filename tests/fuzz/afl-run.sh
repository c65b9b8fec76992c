#!/bin/sh
# AFL++ on the whole program: the client dialogue on standard input, through
# the real library and a real account file. Builds zembrovald and
# libquelmarauth with afl-clang-fast++ into build/afl, sets up a store with
# cheap hashes in a memory folder, and runs afl-fuzz for SECONDS (default
# 600) from seeds of real dialogues (tests/fuzz/afl/seeds). Fails when AFL++
# found crashes or hangs; its output stays in build/afl/out.
set -eu
cd "$(dirname "$0")/../.."
seconds=${1:-600}

deploy/ensure-packages.sh afl++ cmake ninja-build libcrypt-dev libinih-dev

cmake -S . -B build/afl -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=afl-clang-fast -DCMAKE_CXX_COMPILER=afl-clang-fast++ \
    -DBUILD_TESTING=OFF >/dev/null
cmake --build build/afl --target zembrovald quelmarauth >/dev/null
# Never instrumented: it only stands in for the pause and the store's rename.
cc -shared -fPIC -O2 -o build/afl/afl_shim.so tests/fuzz/afl/afl_shim.c -ldl

# The store lives in memory: every change still writes and flushes a copy.
site=$(mktemp -d /dev/shm/zembrovald-afl.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$site"' EXIT
cp tests/fuzz/afl/quelmarauth.conf tests/fuzz/afl/userdb "$site"/
rm -rf build/afl/out

# --stderr: the log entries go to standard error, which afl-fuzz discards,
# instead of a system log that a run of millions would flood.
QUELMARAUTH_CONFIG=$site/quelmarauth.conf ZEMBROVALD_AFL_STORE=$site/userdb \
AFL_PRELOAD=$(pwd)/build/afl/afl_shim.so AFL_NO_UI=1 AFL_SKIP_CPUFREQ=1 \
AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_AFFINITY=1 \
    afl-fuzz -V "$seconds" -t 1000 -i tests/fuzz/afl/seeds -o build/afl/out \
    -- build/afl/sbin/zembrovald --stderr >build/afl/afl-fuzz.log 2>&1 || true

if ! cmp -s tests/fuzz/afl/userdb "$site"/userdb; then
    echo "the store changed during the run"
    exit 1
fi
stats=build/afl/out/default/fuzzer_stats
if [ ! -f "$stats" ]; then
    tail -n 30 build/afl/afl-fuzz.log
    exit 1
fi
value() { sed -n "s/^$1 *: *//p" "$stats"; }
crashes=$(value saved_crashes)
hangs=$(value saved_hangs)
echo "AFL++ ran $(value run_time) s: $(value execs_done) executions ($(value execs_per_sec)/s)," \
    "$(value corpus_count) paths, coverage $(value bitmap_cvg), $crashes crashes, $hangs hangs"
[ "$crashes" = 0 ] && [ "$hangs" = 0 ]
