#!/bin/sh
# check_exports.sh LIB NAMES [LIB NAMES ...]
# Fails when a shared library's defined dynamic symbols are not exactly the
# names listed (one per line) in its NAMES file.
status=0
while [ $# -ge 2 ]; do
  lib=$1; names=$2; shift 2
  actual=$(nm -D --defined-only "$lib" | awk '{print $NF}' | LC_ALL=C sort -u)
  expected=$(LC_ALL=C sort -u "$names")
  if [ "$actual" != "$expected" ]; then
    echo "$lib: exports differ from $names (< missing, > unexpected):"
    printf '%s\n' "$expected" > "${TMPDIR:-/tmp}/kvn_expected.$$"
    printf '%s\n' "$actual" | diff "${TMPDIR:-/tmp}/kvn_expected.$$" - | grep '^[<>]'
    rm -f "${TMPDIR:-/tmp}/kvn_expected.$$"
    status=1
  fi
done
exit $status
