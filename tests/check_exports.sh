#!/bin/sh
# Fails when a shared library defines a dynamic symbol that is not a kvn* export.
status=0
for lib in "$@"; do
  stray=$(nm -D --defined-only "$lib" | awk '{print $NF}' | grep -v '^kvn')
  if [ -n "$stray" ]; then
    echo "$lib exports non-kvn symbols:"; echo "$stray"; status=1
  fi
  nm -D --defined-only "$lib" | grep -q ' kvn' || { echo "$lib exports nothing"; status=1; }
done
exit $status
