# OpenCV's core, imgproc and calib3d (calib3d brings features2d and flann).
# Its CMake package is used where there is one (the Windows toolchain's);
# Debian ships it only in the metapackage of every module, so there the
# development packages of these modules are found by their headers and
# libraries. Either way the targets are opencv_core, opencv_imgproc and
# opencv_calib3d.
find_package(OpenCV 4 QUIET CONFIG COMPONENTS core imgproc calib3d)
if(OpenCV_FOUND)
  message(STATUS "OpenCV ${OpenCV_VERSION} from ${OpenCV_DIR}")
  return()
endif()

find_path(DVK_OPENCV_INCLUDE opencv2/calib3d.hpp PATH_SUFFIXES opencv4)
if(NOT DVK_OPENCV_INCLUDE)
  message(FATAL_ERROR "OpenCV not found: install libopencv-core-dev libopencv-imgproc-dev "
                      "libopencv-calib3d-dev (scripts/setup.sh does), or set OpenCV_DIR")
endif()
foreach(module core imgproc calib3d)
  find_library(DVK_OPENCV_${module} opencv_${module})
  if(NOT DVK_OPENCV_${module})
    message(FATAL_ERROR "OpenCV's ${module} library not found: install libopencv-${module}-dev")
  endif()
  add_library(opencv_${module} UNKNOWN IMPORTED)
  set_target_properties(opencv_${module} PROPERTIES
    IMPORTED_LOCATION ${DVK_OPENCV_${module}}
    INTERFACE_INCLUDE_DIRECTORIES ${DVK_OPENCV_INCLUDE})
endforeach()
message(STATUS "OpenCV from ${DVK_OPENCV_INCLUDE}")
