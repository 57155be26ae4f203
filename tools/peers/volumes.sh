#!/usr/bin/env bash
# Host-side places an install can fail on, for the quiet install's tests:
# a 1 MiB volume (a tmpfs mounted in the state folder: Wine finds the mount
# point, so the installer sees 1 MiB free there) and a folder nobody, root
# included, can create anything in (immutable, chattr +i: Wine answers
# "access denied", as Windows does for a folder only administrators write).
# Both need root, as the tests, the demo and CI run.
#   start <dir>: prints OV_TINY_VOLUME and OV_LOCKED_FOLDER (Windows paths, drive Z:)
set -euo pipefail
cmd=$1 dir=$2
win() { printf 'Z:%s' "$(sed 's|/|\\|g' <<<"$1")"; }
case "$cmd" in
start)
  mkdir -p "$dir/tiny" "$dir/locked"
  mount -t tmpfs -o size=1m ov-tiny-volume "$dir/tiny" ||
    { echo "volumes: cannot mount a tmpfs (root is needed)" >&2; exit 1; }
  chattr +i "$dir/locked" || { echo "volumes: cannot make a folder immutable (root is needed)" >&2; exit 1; }
  echo "OV_TINY_VOLUME=$(win "$dir/tiny")"
  echo "OV_LOCKED_FOLDER=$(win "$dir/locked")"
  ;;
stop)
  [ -d "$dir/locked" ] && chattr -i "$dir/locked" 2>/dev/null || true
  mountpoint -q "$dir/tiny" 2>/dev/null && umount "$dir/tiny" || true
  ;;
esac
