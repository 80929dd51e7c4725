#!/bin/sh
# Linux side of the fault tests, run by CTest before and after them.
#   faults_fixture.sh setup <tmpfs dir> <size> <lockable dir>
#   faults_fixture.sh cleanup <tmpfs dir> <lockable dir>
# setup mounts a small tmpfs (a disk that fills up) on <tmpfs dir> and, when
# that worked, creates <tmpfs dir>.mounted; without the marker the disk-full
# test skips. <lockable dir> is an empty folder on the build tree's own file
# system where the tests may set the immutable attribute (chattr +i); the
# clean-up clears it again, also after a test that died half-way.
set -u
action=$1
tmpfs=$2

unlock_and_remove() {
  if [ -e "$1" ]; then
    chattr -R -i "$1" 2>/dev/null
    rm -rf "$1"
  fi
}

unmount() {
  if mountpoint -q "$tmpfs" 2>/dev/null; then
    umount "$tmpfs" 2>/dev/null || umount -l "$tmpfs"
  fi
  rm -f "$tmpfs.mounted"
}

case $action in
setup)
  size=$3
  lockable=$4
  unmount
  unlock_and_remove "$tmpfs"
  mkdir -p "$tmpfs"
  if mount -t tmpfs -o "size=$size,mode=0777" kavo_faults "$tmpfs" 2>/dev/null; then
    touch "$tmpfs.mounted"
    echo "tmpfs of $size mounted on $tmpfs"
  else
    echo "no tmpfs could be mounted on $tmpfs: the disk-full test will skip"
  fi
  unlock_and_remove "$lockable"
  mkdir -p "$lockable"
  ;;
cleanup)
  lockable=$3
  unmount
  rmdir "$tmpfs" 2>/dev/null
  unlock_and_remove "$lockable"
  ;;
*)
  echo "usage: $0 setup|cleanup ..." >&2
  exit 2
  ;;
esac
exit 0
