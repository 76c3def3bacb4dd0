#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and packs what a user
# runs, twice: build-win/dvk-sp-<version>-win64.zip, one folder to unzip
# anywhere, and build-win/dvk-sp-<version>-win64-setup.exe, an installer of
# the same folder (packaging/windows/installer.nsi). The folder holds
# dvk-sp.exe and dvkctl.exe, the Qt, OpenCV and MinGW runtime DLLs they load
# (found by following their imports, so nothing more), the platform, style
# and picture-format plugins, Qt's Chinese texts, a qt.conf,
# README-windows.txt and, in licenses\, the licence of every DLL.
#
#   scripts/package-windows.sh [build-dir]      default build-win
#
# Its last lines are "QT_PREFIX=...", "INSTALLER=<the setup.exe>" and
# "PACKAGE=<the zip>".
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD
BUILD_DIR=$(realpath -m "${1:-build-win}")

built=$(scripts/build-windows.sh "$BUILD_DIR" | tail -n3)
OPENCV_PREFIX=$(sed -n 's/^OPENCV_PREFIX=//p' <<<"$built")
QT_PREFIX=$(sed -n 's/^QT_PREFIX=//p' <<<"$built")
TRANSLATIONS=${DVK_QT_TRANSLATIONS:-/usr/share/qt5/translations}
MINGW_DIRS=(/usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib)
version=$(cat "$BUILD_DIR/version.txt")
name=dvk-sp-$version-win64
stage=$BUILD_DIR/package/$name
zip=$BUILD_DIR/$name.zip
setup=$BUILD_DIR/$name-setup.exe
rm -rf "$BUILD_DIR/package" "$zip" "$setup"
mkdir -p "$stage/platforms" "$stage/styles" "$stage/imageformats" "$stage/translations" \
  "$stage/licenses"

cp "$BUILD_DIR/bin/dvk-sp.exe" "$BUILD_DIR/bin/dvkctl.exe" "$stage/"
# The window's platform and its native look; every picture format the
# toolchain's Qt reads beyond the PNG and BMP built into Qt5Gui (JPEG, GIF,
# ICO), so that decode takes the captures it takes on Linux.
cp "$QT_PREFIX/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$QT_PREFIX/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
cp "$QT_PREFIX"/plugins/imageformats/*.dll "$stage/imageformats/"

# The DLLs named in the imports, followed until nothing new is named; system
# DLLs (found in neither tree) stay out.
findDll() {
  local d
  for d in "$QT_PREFIX/bin" "$OPENCV_PREFIX/bin" "${MINGW_DIRS[@]}"; do
    [ -f "$d/$1" ] && { echo "$d/$1"; return 0; }
  done
  return 1
}
todo=("$stage"/*.exe "$stage"/*/*.dll)
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
sed "s/@VERSION@/$version/; s/\$/\r/" packaging/windows/README-windows.txt.in >"$stage/README-windows.txt"

# licenses\: the licence texts, and Debian's record of every file's licence
# in the very source packages the DLLs were built from (Qt's includes the
# copies of zlib, libpng, libjpeg, FreeType, PCRE2 and HarfBuzz in it).
# INDEX.txt names each DLL's; a DLL with none stops the packing.
doc=${DVK_DEBIAN_DOC:-/usr/share/doc}
common=/usr/share/common-licenses
lic=$stage/licenses
mkdir -p "$lic/Qt" "$lic/OpenCV" "$lic/MinGW"
cp "$common/LGPL-3" "$lic/Qt/LGPL-3.txt"
cp "$common/GPL-3" "$lic/Qt/GPL-3.txt"
cp "$common/GPL-2" "$lic/Qt/GPL-2.txt"
cp "$doc/libqt5core5a/copyright" "$lic/Qt/qtbase-copyright.txt"
cp "$doc/libqt5serialport5/copyright" "$lic/Qt/qtserialport-copyright.txt"
cp "$OPENCV_PREFIX/LICENSE" "$lic/OpenCV/Apache-2.0.txt"
cp "$OPENCV_PREFIX"/share/licenses/opencv4/* "$lic/OpenCV/"
cp "$doc/libz-mingw-w64/copyright" "$lic/OpenCV/zlib-copyright.txt"
cp "$common/GPL-3" "$lic/MinGW/GPL-3.txt"
cp "$doc/gcc-mingw-w64-x86-64-posix-runtime/copyright" "$lic/MinGW/gcc-runtime-copyright.txt"
cp "$doc/mingw-w64-x86-64-dev/copyright" "$lic/MinGW/mingw-w64-copyright.txt"
licencesOf() {
  case $1 in
  Qt5SerialPort.dll) echo "Qt/LGPL-3.txt Qt/GPL-3.txt Qt/qtserialport-copyright.txt" ;;
  Qt5*.dll | q*.dll) echo "Qt/LGPL-3.txt Qt/GPL-3.txt Qt/qtbase-copyright.txt" ;;
  # zlib is linked into OpenCV's core.
  libopencv_*.dll) echo "OpenCV/Apache-2.0.txt OpenCV/SoftFloat-COPYING.txt OpenCV/zlib-copyright.txt" ;;
  libstdc++-6.dll | libgcc_s_seh-1.dll) echo "MinGW/GPL-3.txt MinGW/gcc-runtime-copyright.txt" ;;
  libwinpthread-1.dll) echo "MinGW/mingw-w64-copyright.txt" ;;
  *) return 1 ;;
  esac
}
{
  printf 'Each DLL of this folder and the licences that cover it (in licenses\\).\n\n'
  find "$stage" -name '*.dll' -printf '%P\n' | sort | while IFS= read -r dll; do
    files=$(licencesOf "$(basename "$dll")") ||
      { echo "package-windows: no licence known for $dll" >&2; exit 1; }
    printf '%-36s %s\n' "${dll//\//\\}" "${files//\//\\}"
  done
} >"$lic/INDEX.txt"
sed -i 's/$/\r/' "$lic/INDEX.txt"

# The build keeps its debugging information; a user's copy needs none (the
# GCC runtime alone shrinks from 23 MB to 2).
find "$stage" -name '*.exe' -o -name 'lib*.dll' | xargs x86_64-w64-mingw32-strip --strip-debug
(cd "$BUILD_DIR/package" && zip -q -r -X "$zip" "$name")

# The installer's two lists: each file of the folder, and the same files
# removed, then their folders, deepest first (RMDir leaves a folder that still
# holds anything).
files=$BUILD_DIR/package/files.nsh
unfiles=$BUILD_DIR/package/unfiles.nsh
: >"$files"
: >"$unfiles"
winrel() { local r=${1#"$stage"}; r=${r#/}; echo "${r//\//\\}"; }
while IFS= read -r dir; do
  rel=$(winrel "$dir")
  printf 'SetOutPath "$INSTDIR%s"\n' "${rel:+\\$rel}" >>"$files"
  find "$dir" -mindepth 1 -maxdepth 1 -type f | sort | while IFS= read -r f; do
    printf 'File "%s"\n' "$f" >>"$files"
    printf 'Delete "$INSTDIR\\%s"\n' "$(winrel "$f")" >>"$unfiles"
  done
done < <(find "$stage" -type d | sort)
find "$stage" -mindepth 1 -type d | sort -r | while IFS= read -r dir; do
  printf 'RMDir "$INSTDIR\\%s"\n' "$(winrel "$dir")" >>"$unfiles"
done
numbers=$(sed -n 's/^project([^ ]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DVERSION_NUMBERS="$numbers" \
  -DOUTFILE="$setup" -DICON="$SRC/src/ui/resources/Icon/Kestrav.ico" \
  -DFILES="$files" -DUNFILES="$unfiles" -DSIZE_KB="$(du -sk "$stage" | cut -f1)" \
  packaging/windows/installer.nsi >"$BUILD_DIR/package/makensis.log" ||
  { cat "$BUILD_DIR/package/makensis.log" >&2; exit 1; }

echo "QT_PREFIX=$QT_PREFIX"
echo "INSTALLER=$setup"
echo "PACKAGE=$zip"
