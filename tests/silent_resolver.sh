#!/bin/sh
# Runs a test program (with its arguments) in a user and network namespace
# of its own: only loopback, and a resolv.conf whose one name server is
# 127.0.0.1:53, which the program itself holds without answering. Exit 77
# (skipped) where the kernel or the tools do not allow it.
set -u
conf=$(mktemp) || exit 77
trap 'rm -f "$conf"' EXIT
printf 'nameserver 127.0.0.1\noptions timeout:10 attempts:1\n' >"$conf"
command -v unshare >/dev/null 2>&1 && command -v ip >/dev/null 2>&1 || exit 77
unshare -rnm true 2>/dev/null || exit 77
# LeakSanitizer's tracer cannot attach inside the new user namespace.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
export ASAN_OPTIONS
OMBRELIX_SILENT_RESOLVER=1 unshare -rnm sh -c '
  ip link set lo up && mount --bind "$0" /etc/resolv.conf || exit 77
  exec "$@"' "$conf" "$@"
