#!/bin/sh
# A longer run of every harness (SECONDS each, default 3600) on a corpus kept
# in build/fuzz/corpus/, which grows from run to run.
set -eu
cd "$(dirname "$0")/../.."
mkdir -p build/fuzz/corpus
FUZZ_CORPUS_DIR=$(pwd)/build/fuzz/corpus exec tests/fuzz/run-short.sh "${1:-3600}"
