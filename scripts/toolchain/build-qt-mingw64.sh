#!/usr/bin/env bash
# Makes qt-5.15.8-mingw64.tar.xz, the Qt scripts/build-windows.sh builds
# against: qtbase 5.15.8 from Debian 12's source package and qtserialport
# 5.15.8 from its source archive, for 64-bit Windows with Debian's MinGW-w64
# compiler (posix threads), shared, release. The tree unpacks to
# qt5-mingw64/; its qmake has /opt/qt5-mingw64 built in (CMake finds
# everything relative to the tree). About 20 minutes on 2 cores; not part of
# CI.
#
#   scripts/toolchain/build-qt-mingw64.sh [REFERENCE.tar.xz]
#
# QTSERIALPORT_ARCHIVE  qtserialport's sources at tag v5.15.8-lts-lgpl (a
#                       .tar.gz or .tar.xz) from the Qt project's repository;
#                       without it, Debian 12's source package of the same
#                       release (5.15.8-2) is used
# Needs the Debian packages g++-mingw-w64-x86-64-posix, g++, make, perl,
# python3 and dpkg-dev. Given a REFERENCE archive, says whether the new one
# holds the same files. The rest of the settings are in common.sh.
# shellcheck source=scripts/toolchain/common.sh
source "$(dirname "$0")/common.sh"
need make make
need perl perl
need g++ g++

base=$(debianSource qtbase-opensource-src 5.15.8+dfsg-11+deb12u3)
if [ -n "${QTSERIALPORT_ARCHIVE:-}" ]; then
  echo "qtserialport sources: $(sha256sum "$QTSERIALPORT_ARCHIVE")"
  serial=$WORK/qtserialport-src
  rm -rf "$serial" && mkdir "$serial"
  tar -xf "$QTSERIALPORT_ARCHIVE" -C "$serial" --strip-components=1
else
  serial=$(debianSource qtserialport-opensource-src 5.15.8-2)
fi

prefix=/opt/qt5-mingw64
root=$WORK/root
rm -rf "$WORK/qtbase-build" "$WORK/qtserialport-build" "$root"
mkdir -p "$WORK/qtbase-build" "$WORK/qtserialport-build"

# The host tools (qmake, moc, rcc, uic) are built for Linux, the rest for
# Windows. Off: what the programs do not use and what would bring DLLs of
# its own (OpenGL, ICU, OpenSSL, D-Bus, SQL drivers); tablet events, whose
# header Debian's repack drops. Qt's own copies of zlib, libpng, libjpeg,
# PCRE2 and HarfBuzz are built in.
cd "$WORK/qtbase-build"
"$base/configure" -prefix "$prefix" -platform linux-g++ \
  -xplatform win32-g++ -device-option CROSS_COMPILE="$MINGW-" \
  -opensource -confirm-license -release -shared -nomake examples -nomake tests \
  -no-opengl -no-dbus -no-icu -no-openssl -no-feature-tabletevent \
  -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre -qt-harfbuzz \
  -no-sql-sqlite -no-sql-odbc -no-sql-psql -no-sql-mysql -silent >"$WORK/configure.log"
make -j"$JOBS"
make -j"$JOBS" install INSTALL_ROOT="$root"
# Debian's patches add a mkspec for GNU/kFreeBSD hosts, of no use to a
# Windows toolchain.
rm -rf "$root$prefix/mkspecs/gnukfreebsd-g++"
# qmake is built with debug information whatever the configuration; the
# other host tools are stripped on install.
strip "$root$prefix/bin/qmake"

# qtserialport against the qtbase build tree, installed beside it. A source
# archive of a tag has no generated forwarding headers; qmake makes them for
# a tree it takes for a git checkout.
[ -e "$serial/include" ] || mkdir -p "$serial/.git"
cd "$WORK/qtserialport-build"
"$WORK/qtbase-build/bin/qmake" "$serial/qtserialport.pro"
make -j"$JOBS"
make install INSTALL_ROOT="$root"

archive=$(pack "$root/opt" qt5-mingw64 qt-5.15.8-mingw64.tar.xz)
echo "$archive"
[ $# -eq 0 ] || compareList "$archive" "$1"
[ -n "${DVK_TOOLCHAIN_WORK:-}" ] || rm -rf "$WORK"
