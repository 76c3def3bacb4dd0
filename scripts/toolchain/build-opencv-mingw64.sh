#!/usr/bin/env bash
# Makes opencv-4.6.0-mingw64.tar.xz, the OpenCV scripts/build-windows.sh
# builds against: OpenCV 4.6.0 from Debian 12's source package, for 64-bit
# Windows with Debian's MinGW-w64 compiler (posix threads), shared, release,
# only the modules calibration needs (core, imgproc, features2d, flann,
# calib3d). About 12 minutes on 2 cores; not part of CI.
#
#   scripts/toolchain/build-opencv-mingw64.sh [REFERENCE.tar.xz]
#
# Needs the Debian packages g++-mingw-w64-x86-64-posix, cmake, dpkg-dev and
# libz-mingw-w64-dev. zlib is linked in statically, so the DLLs need only
# the MinGW runtime beside them. Given a REFERENCE archive (such as the one a
# colleague made), says whether the new one holds the same files. The rest
# of the settings are in common.sh.
# shellcheck source=scripts/toolchain/common.sh
source "$(dirname "$0")/common.sh"
need cmake cmake
ZLIB=/usr/$MINGW/lib/libz.a
[ -f "$ZLIB" ] || { echo "toolchain: needs $ZLIB (apt-get install libz-mingw-w64-dev)" >&2; exit 2; }

src=$(debianSource opencv 4.6.0+dfsg-12)
root=$WORK/root
rm -rf "$WORK/opencv-build" "$root"

# Everything not needed off: no image or video input (Qt reads the
# pictures), no GUI, no parallel or accelerated back ends that would bring
# DLLs of their own, no bundled third-party code but zlib's from Debian.
off=(BUILD_TESTS BUILD_PERF_TESTS BUILD_EXAMPLES BUILD_DOCS BUILD_opencv_apps BUILD_JAVA
  BUILD_opencv_python2 BUILD_opencv_python3 BUILD_ZLIB OPENCV_GENERATE_PKGCONFIG
  INSTALL_CREATE_DISTRIB
  WITH_IPP WITH_TBB WITH_OPENCL WITH_EIGEN WITH_LAPACK WITH_ITT WITH_PROTOBUF WITH_ADE
  WITH_QUIRC WITH_OPENEXR WITH_FFMPEG WITH_GSTREAMER WITH_DSHOW WITH_MSMF WITH_WIN32UI
  WITH_JPEG WITH_TIFF WITH_WEBP WITH_OPENJPEG WITH_JASPER WITH_PNG WITH_IMGCODEC_HDR
  WITH_IMGCODEC_SUNRASTER WITH_IMGCODEC_PXM WITH_IMGCODEC_PFM WITH_VTK WITH_GTK WITH_QT
  WITH_OPENGL WITH_1394)
args=()
for o in "${off[@]}"; do args+=("-D$o=OFF"); done

# The project's own toolchain file: the same compiler as the programs.
cmake -S "$src" -B "$WORK/opencv-build" -DCMAKE_TOOLCHAIN_FILE="$SRC/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
  -DBUILD_LIST=core,imgproc,features2d,flann,calib3d \
  -DZLIB_LIBRARY="$ZLIB" -DZLIB_INCLUDE_DIR="/usr/$MINGW/include" \
  -DOPENCV_SKIP_PYTHON_LOADER=ON "${args[@]}" >"$WORK/configure.log"
cmake --build "$WORK/opencv-build" -j"$JOBS"
# OpenCV's CMake package finds its files relative to itself, so the tree
# works wherever it is unpacked.
cmake --install "$WORK/opencv-build" --prefix "$root/opencv-mingw64" >/dev/null

archive=$(pack "$root" opencv-mingw64 opencv-4.6.0-mingw64.tar.xz)
echo "$archive"
[ $# -eq 0 ] || compareList "$archive" "$1"
[ -n "${DVK_TOOLCHAIN_WORK:-}" ] || rm -rf "$WORK"
