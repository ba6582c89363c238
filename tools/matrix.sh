#!/usr/bin/env bash
# Where velkan installs and passes, tested as a new user would meet it: for
# each Debian release a clean root made with debootstrap (cached), holding
# only what a fresh system has (python3, git, ca-certificates), a clone of
# the current commit, and the README's quick start run in it line by line.
# Prints a markdown table: release, Python, compiler, times, result.
#
# usage: tools/matrix.sh [--install-only] [--prepare] [--refresh] [--keep] [RELEASE...]
#   RELEASE         bullseye, bookworm, trixie, sid (default: all four)
#   --install-only  run the quick start's install lines, not ./run_tests.sh
#   --prepare       only make the cached base roots that are missing
#   --refresh       make the cached base roots anew
#   --keep          leave each row's root in place (for a look inside)
#
# Environment:
#   VELKAN_MATRIX_CACHE   base roots, apt downloads, logs and the table
#                         (default ~/.cache/velkan-matrix)
#   VELKAN_MATRIX_MIRROR  the Debian mirror (default: the host's apt source)
#   VELKAN_MATRIX_ARCH    a Debian architecture other than the host's (arm64):
#                         its roots are named base-RELEASE-ARCH.tar.gz,
#                         root-RELEASE-ARCH, and debootstrap needs a binfmt_misc
#                         handler for it (tools/wheels.sh registers
#                         qemu-aarch64-static for arm64)
#
# Needs root (debootstrap, chroot, mount) on a Debian-like host. Only the
# committed tree is tested: the clone is of HEAD. Each row starts from the
# cached base root, so nothing of an earlier run is left but apt's
# downloaded .deb files (kept per release so that reruns download less).
# The exit status is non-zero when a row failed.
set -euo pipefail
# One compound command, read whole before it runs: editing this file while a
# run goes on cannot change what that run does.
{
RELEASES_ALL=(bullseye bookworm trixie sid)
INSTALL_ONLY=0
PREPARE=0
REFRESH=0
KEEP=0
releases=()
for arg in "$@"; do
  case $arg in
    --install-only) INSTALL_ONLY=1 ;;
    --prepare) PREPARE=1 ;;
    --refresh) REFRESH=1 ;;
    --keep) KEEP=1 ;;
    -h | --help)
      sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
      exit 0
      ;;
    bullseye | bookworm | trixie | sid) releases+=("$arg") ;;
    all) releases+=("${RELEASES_ALL[@]}") ;;
    *)
      echo "matrix.sh: unknown argument '$arg' (expected --install-only, --prepare, --refresh, --keep or a release: ${RELEASES_ALL[*]})" >&2
      exit 2
      ;;
  esac
done
[ ${#releases[@]} -gt 0 ] || releases=("${RELEASES_ALL[@]}")

if [ "$(id -u)" -ne 0 ]; then
  echo "matrix.sh: needs root (debootstrap, chroot and mount)" >&2
  exit 2
fi

REPO=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
COMMIT=$(git -C "$REPO" rev-parse HEAD)
CACHE=${VELKAN_MATRIX_CACHE:-$HOME/.cache/velkan-matrix}
mkdir -p "$CACHE"

# The host's Debian mirror: the first deb822 "URIs:" or one-line "deb" source
# that serves the main archive (not the security one).
host_mirror() {
  local uri
  uri=$(grep -hs -E '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{print $2}' |
    grep -E '/debian/?$' | head -n1 || true)
  [ -n "$uri" ] || uri=$(grep -hs -E '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
    awk '{for (i = 2; i <= NF; i++) if ($i ~ /^(https?|ftp):/) {print $i; exit}}' |
    grep -E '/debian/?$' | head -n1 || true)
  echo "${uri:-http://deb.debian.org/debian}"
}
MIRROR=${VELKAN_MATRIX_MIRROR:-$(host_mirror)}
# A foreign architecture's roots sit beside the host's, their names suffixed.
ARCH=${VELKAN_MATRIX_ARCH:-}
[ "$ARCH" != "$(dpkg --print-architecture 2>/dev/null || true)" ] || ARCH=
SUFFIX=${ARCH:+-$ARCH}

if ! command -v debootstrap >/dev/null; then
  echo "==> installing debootstrap"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
fi

# The quick start's commands: the bash block after "## Quick start" in the
# README, one command a line; the last one is the test command. A user who is
# root has no sudo, so a leading "sudo " is dropped.
mapfile -t QUICK_START < <(awk '
  /^## Quick start/ { in_section = 1; next }
  in_section && /^## / { exit }
  in_section && /^```bash/ { in_block = 1; next }
  in_block && /^```/ { exit }
  in_block && NF { sub(/^sudo /, ""); print }' "$REPO/README.md")
if [ ${#QUICK_START[@]} -lt 2 ]; then
  echo "matrix.sh: found no quick start commands in README.md" >&2
  exit 2
fi
INSTALL_COMMANDS=("${QUICK_START[@]:0:${#QUICK_START[@]}-1}")
TEST_COMMAND=${QUICK_START[-1]}

# ---- mounts, undone on every exit --------------------------------------------
# shellcheck source=tools/mounts.sh
. "$REPO/tools/mounts.sh"
BOOTSTRAPS=()
cleanup() {
  local i
  unmount_all
  # and any that an interrupted debootstrap of this run left
  for i in "${BOOTSTRAPS[@]}"; do unmount_under "$i"; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# One run at a time per release: a second one waits for the first.
lock_release() {
  [ -z "${LOCK_FD:-}" ] || exec {LOCK_FD}>&-
  exec {LOCK_FD}>"$CACHE/lock-$1"
  if ! flock -n "$LOCK_FD"; then
    echo "==> [$1] waiting for another matrix run of $1"
    flock "$LOCK_FD"
  fi
}

# ---- base roots: debootstrap once, then a tarball per release ----------------
# What a fresh Debian system has: a minimal base with python3, git and the CA
# certificates. Everything else must come from the README's commands.
make_base() {
  local rel=$1 tarball=$CACHE/base-$1$SUFFIX.tar.gz tmp
  if [ -f "$tarball" ] && [ $REFRESH = 0 ]; then return; fi
  tmp=$CACHE/bootstrap-$rel$SUFFIX
  BOOTSTRAPS+=("$tmp")
  remove_root "$tmp"
  echo "==> [$rel$SUFFIX] debootstrap from $MIRROR"
  if ! debootstrap --variant=minbase --include=python3,git,ca-certificates ${ARCH:+--arch=$ARCH} \
    "$rel" "$tmp" "$MIRROR" >"$CACHE/bootstrap-$rel$SUFFIX.log" 2>&1; then
    echo "matrix.sh: debootstrap of $rel$SUFFIX failed; see $CACHE/bootstrap-$rel$SUFFIX.log" >&2
    tail -n 20 "$CACHE/bootstrap-$rel$SUFFIX.log" >&2
    return 1
  fi
  # sid's Release file is not always renewed before it expires.
  if [ "$rel" = sid ]; then
    echo 'Acquire::Check-Valid-Until "false";' >"$tmp/etc/apt/apt.conf.d/99matrix-valid-until"
  fi
  # A script answers no prompts: apt-get install proceeds as a user typing y.
  echo 'APT::Get::Assume-Yes "true";' >"$tmp/etc/apt/apt.conf.d/99matrix-assume-yes"
  rm -rf "$tmp"/var/cache/apt/archives/*.deb "$tmp"/var/lib/apt/lists/*_Packages
  tar -C "$tmp" -czf "$tarball.part" .
  mv "$tarball.part" "$tarball"
  remove_root "$tmp"
}

# What pip and apt need to reach their registries from inside: name
# resolution, the host's CA bundle (it may hold a proxy's certificate) and
# pip's configuration files.
copy_network_config() {
  local root=$1 f
  cp -L /etc/resolv.conf "$root/etc/resolv.conf"
  [ -f /etc/hosts ] && cp /etc/hosts "$root/etc/hosts"
  if [ -f /etc/ssl/certs/ca-certificates.crt ]; then
    # Split into single certificates under /usr/local/share so that an
    # update-ca-certificates run inside keeps them, and copy the bundle.
    mkdir -p "$root/usr/local/share/ca-certificates/host"
    awk -v dir="$root/usr/local/share/ca-certificates/host" '
      /BEGIN CERTIFICATE/ { n++; out = sprintf("%s/host-%04d.crt", dir, n) }
      out { print > out }
      /END CERTIFICATE/ { close(out); out = "" }' /etc/ssl/certs/ca-certificates.crt
    cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/ca-certificates.crt"
  fi
  for f in /etc/pip.conf /etc/xdg/pip/pip.conf /etc/xdg/pip/constraints.txt; do
    if [ -f "$f" ]; then
      mkdir -p "$root$(dirname "$f")"
      cp "$f" "$root$f"
    fi
  done
  # Settings a user's own pip.conf or PIP_* variables hold on this host (an
  # index, a certificate, a timeout), minus local paths that are not inside.
  local user_conf=$root/root/.config/pip/pip.conf
  mkdir -p "$(dirname "$user_conf")"
  {
    echo "[global]"
    [ -n "${PIP_INDEX_URL:-}" ] && echo "index-url = $PIP_INDEX_URL"
    [ -n "${PIP_CERT:-}" ] && [ -f "$PIP_CERT" ] && echo "cert = /etc/ssl/certs/ca-certificates.crt"
    [ -n "${PIP_DEFAULT_TIMEOUT:-}" ] && echo "timeout = $PIP_DEFAULT_TIMEOUT"
    for f in "$HOME/.config/pip/pip.conf" "$HOME/.pip/pip.conf"; do
      [ -f "$f" ] || continue
      grep -E '^\s*(index-url|trusted-host|timeout|retries|proxy)\s*=' "$f" | grep -v 'file:' || true
    done
  } >"$user_conf"
}

# ---- one row ---------------------------------------------------------------------
ROWS=()
FAILED=0
in_root() { # in_root ROOT LOG COMMAND: runs COMMAND in ROOT as a fresh root login
  local root=$1 log=$2 cmd=$3
  chroot "$root" /usr/bin/env -i HOME=/root USER=root LOGNAME=root TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive \
    /bin/bash -c "cd /root/velkan && $cmd" </dev/null >>"$log" 2>&1
}
fmt_time() { printf '%d:%02d' $(($1 / 60)) $(($1 % 60)); }

run_row() {
  local rel=$1 root=$CACHE/root-$1$SUFFIX logdir=$CACHE/logs/$1$SUFFIX t0 install_s test_s result python compiler summary
  lock_release "$rel$SUFFIX"
  make_base "$rel"
  remove_root "$root"
  rm -rf "$logdir"
  mkdir -p "$root" "$logdir" "$CACHE/apt-$rel$SUFFIX"
  echo "==> [$rel] unpacking the base root"
  tar -C "$root" -xzf "$CACHE/base-$rel$SUFFIX.tar.gz"
  copy_network_config "$root"
  mount_in "$root/proc" -t proc proc
  mount_in "$root/dev/shm" -t tmpfs -o mode=1777 tmpfs
  mount_in "$root/dev/pts" --bind /dev/pts # for tests that open a pseudo-terminal
  mount_in "$root/var/cache/apt/archives" --bind "$CACHE/apt-$rel$SUFFIX"
  git clone -q --no-local "$REPO" "$root/root/velkan"
  git -C "$root/root/velkan" checkout -q --detach "$COMMIT"

  echo "==> [$rel] apt-get update"
  in_root "$root" "$logdir/prepare.log" "apt-get update -q && update-ca-certificates" || true

  result=pass
  t0=$SECONDS
  for cmd in "${INSTALL_COMMANDS[@]}"; do
    echo "==> [$rel] $cmd"
    echo "\$ $cmd" >>"$logdir/install.log"
    if ! in_root "$root" "$logdir/install.log" "$cmd"; then
      result="install failed"
      break
    fi
  done
  install_s=$((SECONDS - t0))
  test_s=
  if [ "$result" = pass ] && [ $INSTALL_ONLY = 0 ]; then
    echo "==> [$rel] $TEST_COMMAND"
    echo "\$ $TEST_COMMAND" >>"$logdir/test.log"
    t0=$SECONDS
    in_root "$root" "$logdir/test.log" "$TEST_COMMAND" || result="tests failed"
    test_s=$((SECONDS - t0))
  fi
  [ "$result" = pass ] || FAILED=1

  python=$(chroot "$root" python3 -c 'import platform; print(platform.python_version())' 2>/dev/null || echo "?")
  compiler=$(chroot "$root" g++ -dumpfullversion 2>/dev/null || echo "none")
  [ "$compiler" = none ] || compiler="g++ $compiler"
  # pytest's closing line, e.g. "1430 passed, 12 skipped in 301.2s".
  summary=$(grep -E '^[0-9]+ (passed|failed)|^=* ?[0-9]+ (passed|failed)' "$logdir/test.log" 2>/dev/null |
    tail -n1 | sed -E 's/=//g; s/ in [0-9.]+s.*//; s/^ +//' || true)
  [ -n "$summary" ] && result="$result ($summary)"
  local test_time=–
  [ -n "$test_s" ] && test_time=$(fmt_time "$test_s")
  ROWS+=("| $rel | $python | $compiler | $(fmt_time "$install_s") | $test_time | $result |")
  echo "==> [$rel] $result; logs in $logdir"

  cleanup
  [ $KEEP = 1 ] || remove_root "$root"
}

if [ $PREPARE = 1 ]; then
  for rel in "${releases[@]}"; do
    lock_release "$rel$SUFFIX"
    make_base "$rel"
  done
  exit 0
fi
for rel in "${releases[@]}"; do
  run_row "$rel" || {
    ROWS+=("| $rel | ? | ? | – | – | root not made |")
    FAILED=1
    cleanup
  }
done

{
  echo "Commit ${COMMIT:0:12}, $(date -u +%Y-%m-%d), $(nproc) cores; times are minutes:seconds."
  echo
  echo "| release | Python | compiler | install | tests | result |"
  echo "|---|---|---|---|---|---|"
  printf '%s\n' "${ROWS[@]}"
} | tee "$CACHE/table-$(IFS=-; echo "${releases[*]}").md"
exit $FAILED
}
