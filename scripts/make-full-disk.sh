#!/usr/bin/env bash
# make-full-disk.sh [--optional] WINEPREFIX [LETTER] [SIZE]
# make-full-disk.sh --remove WINEPREFIX [LETTER]
# Gives a Wine prefix a drive that really fills up: a small tmpfs (SIZE, default 1m)
# mounted beside the prefix and mapped as drive LETTER: (default q). The full-disk test
# uses it and skips itself when the drive is missing. Each run starts with an empty
# volume. Mounting needs root (or CAP_SYS_ADMIN); without it the script says so and
# exits 1, or 0 with --optional (the test then skips itself, naming the reason).
# --remove unmaps the drive and unmounts the volume.
set -u
here=$(cd "$(dirname "$0")" && pwd)

remove=0
optional=0
case "${1:-}" in
  --remove) remove=1; shift ;;
  --optional) optional=1; shift ;;
esac
if [ $# -lt 1 ]; then
  echo "usage: $0 [--optional | --remove] WINEPREFIX [LETTER] [SIZE]" >&2
  exit 2
fi
mkdir -p "$(dirname "$1")"
prefix=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
letter=$(echo "${2:-q}" | tr 'A-Z' 'a-z')
size=${3:-1m}
volume="$prefix-full-disk-$letter"

if [ $remove = 1 ]; then
  rm -f "$prefix/dosdevices/$letter:"
  if mountpoint -q "$volume" 2>/dev/null; then umount "$volume" || exit 1; fi
  rmdir "$volume" 2>/dev/null
  exit 0
fi

# The prefix is made the way every test run makes it, so the drive map sits in a
# complete prefix.
if [ ! -f "$prefix/.stowly-ready" ]; then
  WINEPREFIX="$prefix" "$here/wine-run.sh" cmd /c exit >/dev/null 2>&1
fi
if [ ! -d "$prefix/dosdevices" ]; then
  echo "make-full-disk: $prefix is not a Wine prefix" >&2
  exit 1
fi

mkdir -p "$volume"
if mountpoint -q "$volume"; then umount "$volume" || exit 1; fi
if ! mount -t tmpfs -o "size=$size,mode=0777" tmpfs "$volume"; then
  echo "make-full-disk: cannot mount a tmpfs on $volume (mounting needs root)" >&2
  rmdir "$volume" 2>/dev/null
  exit $((1 - optional))
fi
ln -sfn "$volume" "$prefix/dosdevices/$letter:"
echo "make-full-disk: drive ${letter^^}: is a $size tmpfs at $volume"
