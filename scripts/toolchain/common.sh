# shellcheck shell=bash
# Shared by the toolchain scripts (sourced, not run): where they work, how
# they fetch a Debian source package, how they pack and check the result.
#
# DVK_TOOLCHAIN_OUT   where the archives go (default build-toolchain/ in the
#                     clone); each gets a .sha256 beside it
# DVK_TOOLCHAIN_WORK  scratch folder (default a new one under /tmp, removed
#                     on success)
# DVK_JOBS            parallel jobs (default: the number of processors)
set -euo pipefail
# A failure inside $(...) stops the script too, not only the substitution.
shopt -s inherit_errexit
SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
OUT=$(realpath -m "${DVK_TOOLCHAIN_OUT:-$SRC/build-toolchain}")
WORK=${DVK_TOOLCHAIN_WORK:-$(mktemp -d /tmp/dvk-toolchain.XXXXXX)}
JOBS=${DVK_JOBS:-$(nproc)}
MINGW=x86_64-w64-mingw32
mkdir -p "$OUT" "$WORK"

need() { # command debian-package
  command -v "$1" >/dev/null || { echo "toolchain: needs $1 (apt-get install $2)" >&2; exit 2; }
}
need "$MINGW-g++-posix" g++-mingw-w64-x86-64-posix
need dpkg-source dpkg-dev

# debianSource PACKAGE VERSION: unpacks Debian's source package (its patches
# applied) into $WORK and prints the folder. apt fetches it when a deb-src
# line for bookworm is configured; without one, put the .dsc and its files in
# $WORK beforehand (from https://snapshot.debian.org/package/PACKAGE/VERSION/).
debianSource() {
  local package=$1 version=$2 dsc
  dsc=$WORK/${package}_${version#*:}.dsc
  # apt skips the files already there, and completes a fetch cut short.
  if ! (cd "$WORK" && apt-get source --download-only "$package=$version" >&2); then
    if [ ! -f "$dsc" ]; then
      echo "toolchain: cannot fetch $package $version; add to /etc/apt/sources.list.d/:" >&2
      echo "  deb-src http://deb.debian.org/debian bookworm main" >&2
      echo "then apt-get update, or put its .dsc and files in $WORK" >&2
      exit 2
    fi
    echo "toolchain: apt cannot fetch $package $version; trying the files in $WORK" >&2
  fi
  rm -rf "$WORK/$package-src"
  dpkg-source -x "$dsc" "$WORK/$package-src" >&2 || {
    echo "toolchain: cannot unpack $dsc: a file it lists is missing or damaged" >&2
    exit 2
  }
  echo "$WORK/$package-src"
}

# pack ROOT FOLDER ARCHIVE: ROOT/FOLDER as OUT/ARCHIVE (xz), with its .sha256,
# in name order and with fixed owners so that the same files give the same
# list.
pack() {
  local root=$1 folder=$2 archive=$OUT/$3
  tar -C "$root" --sort=name --owner=0 --group=0 --numeric-owner -cJf "$archive" "$folder"
  (cd "$OUT" && sha256sum "$(basename "$archive")" >"$(basename "$archive").sha256")
  echo "$archive"
}

# compareList ARCHIVE REFERENCE: says whether two archives hold the same
# file names (not bytes: compilers embed dates and paths).
compareList() {
  local a=$1 b=$2
  if diff <(tar -tJf "$a" | sort) <(tar -tJf "$b" | sort) >"$WORK/list.diff"; then
    echo "same file list as $b ($(tar -tJf "$a" | wc -l) entries)"
  else
    echo "file lists differ from $b:"
    cat "$WORK/list.diff"
    return 1
  fi
}
