#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and packs what a user
# unzips and runs: build-win/dvk-sp-<version>-win64.zip, one folder holding
# dvk-sp.exe and dvkctl.exe, the Qt and MinGW runtime DLLs they load (found by
# following their imports, so nothing more), the platform and style plugins,
# Qt's Chinese texts, a qt.conf, README-windows.txt and Qt's licences.
#
#   scripts/package-windows.sh [build-dir]      default build-win
#
# Its last two lines are "QT_PREFIX=..." and "PACKAGE=<the zip>".
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD
BUILD_DIR=$(realpath -m "${1:-build-win}")

qt=$(scripts/build-windows.sh "$BUILD_DIR" | tail -n1)
QT_PREFIX=${qt#QT_PREFIX=}
LICENSES=${DVK_QT_LICENSES:-$SRC/../shared/toolchains/licenses}
TRANSLATIONS=${DVK_QT_TRANSLATIONS:-/usr/share/qt5/translations}
MINGW_DIRS=(/usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib)
version=$(sed -n 's/^project([^ ]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=dvk-sp-$version-win64
stage=$BUILD_DIR/package/$name
zip=$BUILD_DIR/$name.zip
rm -rf "$BUILD_DIR/package" "$zip"
mkdir -p "$stage/platforms" "$stage/styles" "$stage/translations" "$stage/licenses"

cp "$BUILD_DIR/bin/dvk-sp.exe" "$BUILD_DIR/bin/dvkctl.exe" "$stage/"
# The window's platform and its native look; PNG, the only picture format the
# programs read, is built into Qt5Gui.
cp "$QT_PREFIX/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$QT_PREFIX/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"

# The DLLs named in the imports, followed until nothing new is named; system
# DLLs (found in neither tree) stay out.
findDll() {
  local d
  for d in "$QT_PREFIX/bin" "${MINGW_DIRS[@]}"; do
    [ -f "$d/$1" ] && { echo "$d/$1"; return 0; }
  done
  return 1
}
todo=("$stage"/*.exe "$stage"/platforms/*.dll "$stage"/styles/*.dll)
while [ ${#todo[@]} -gt 0 ]; do
  file=${todo[0]}
  todo=("${todo[@]:1}")
  for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\tDLL Name: //p'); do
    [ -f "$stage/$dll" ] && continue
    path=$(findDll "$dll") || continue
    cp "$path" "$stage/"
    todo+=("$stage/$dll")
  done
done

# Qt's own texts in Chinese (standard buttons, dialogs); the .qm files are the
# same on every platform.
for qm in qt_zh_CN.qm qtbase_zh_CN.qm; do
  cp "$TRANSLATIONS/$qm" "$stage/translations/"
done
# Plugins and translations relative to the programs, wherever they are
# unpacked.
printf '[Paths]\r\nPrefix = .\r\nPlugins = .\r\nTranslations = translations\r\n' >"$stage/qt.conf"
cp "$LICENSES"/LICENSE.* "$stage/licenses/"
sed "s/@VERSION@/$version/; s/\$/\r/" packaging/windows/README-windows.txt.in >"$stage/README-windows.txt"

# The build keeps its debugging information; a user's copy needs none (the
# GCC runtime alone shrinks from 23 MB to 2).
find "$stage" -name '*.exe' -o -name 'lib*.dll' | xargs x86_64-w64-mingw32-strip --strip-debug
(cd "$BUILD_DIR/package" && zip -q -r -X "$zip" "$name")
echo "QT_PREFIX=$QT_PREFIX"
echo "PACKAGE=$zip"
