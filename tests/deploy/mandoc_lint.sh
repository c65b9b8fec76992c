#!/bin/sh
# Lints manual pages with mandoc, style messages included; exits 77 (skipped)
# when mandoc is not installed. Cross references are left out: whether the
# referenced pages are installed depends on the machine, not on the page.
command -v mandoc >/dev/null || { echo "mandoc (Debian mandoc) is not installed"; exit 77; }
found=$(mandoc -T lint -W style "$@" 2>&1 | grep -v -e 'referenced manual not found' -e 'mandoc\.db')
[ -z "$found" ] && exit 0
printf '%s\n' "$found"
exit 1
