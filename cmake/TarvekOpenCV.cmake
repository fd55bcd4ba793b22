# The imported target tarvek::opencv. Debian ships OpenCV 4.6's per-module
# packages without a CMake package file, so the three modules are located
# directly. Used by the build and by the installed package alike, so that a
# consuming project finds OpenCV the same way.
find_path(OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
set(OPENCV_LIBRARIES "")
foreach(module core imgproc imgcodecs)
  find_library(OPENCV_${module}_LIBRARY opencv_${module} REQUIRED)
  list(APPEND OPENCV_LIBRARIES ${OPENCV_${module}_LIBRARY})
endforeach()
add_library(tarvek::opencv INTERFACE IMPORTED)
target_include_directories(tarvek::opencv INTERFACE ${OPENCV_INCLUDE_DIR})
target_link_libraries(tarvek::opencv INTERFACE ${OPENCV_LIBRARIES})
