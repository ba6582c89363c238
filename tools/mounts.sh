# Mounts inside chroots and their removal, for tools/matrix.sh and
# tools/wheels.sh (sourced, not run). A mount made with mount_in is undone by
# unmount_all, which each script calls on exit and between rows; remove_root
# also undoes mounts that an interrupted earlier run left under a root.

MOUNTS=()

mount_in() { # mount_in TARGET MOUNT-ARGUMENTS...
  local target=$1
  shift
  mkdir -p "$target"
  mount "$@" "$target"
  MOUNTS+=("$target")
}

# The mounts of mount_in, last first; lazily where one is still busy.
unmount_all() {
  local i
  for ((i = ${#MOUNTS[@]} - 1; i >= 0; i--)); do
    umount "${MOUNTS[i]}" 2>/dev/null || umount -l "${MOUNTS[i]}" 2>/dev/null || true
  done
  MOUNTS=()
}

# Unmounts whatever is mounted under a directory, deepest first (such as a
# /proc that an interrupted debootstrap left).
unmount_under() {
  local dir m
  [ -e "$1" ] || return 0
  dir=$(realpath "$1")
  while read -r m; do
    umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true
  done < <(awk -v d="$dir/" 'index($2 "/", d) == 1 {print $2}' /proc/self/mounts | sort -r)
}

# Removes a root without ever crossing into another file system.
remove_root() {
  unmount_under "$1"
  rm -rf --one-file-system "$1"
}
