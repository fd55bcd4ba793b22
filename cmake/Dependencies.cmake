# Debian ships OpenCV 4.6's per-module packages without a CMake package file,
# so the three modules are located directly.
find_path(OPENCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4 REQUIRED)
foreach(module core imgproc imgcodecs)
  find_library(OPENCV_${module}_LIBRARY opencv_${module} REQUIRED)
  list(APPEND OPENCV_LIBRARIES ${OPENCV_${module}_LIBRARY})
endforeach()
add_library(tarvek::opencv INTERFACE IMPORTED)
target_include_directories(tarvek::opencv INTERFACE ${OPENCV_INCLUDE_DIR})
target_link_libraries(tarvek::opencv INTERFACE ${OPENCV_LIBRARIES})

find_package(Boost 1.81 REQUIRED COMPONENTS json locale CONFIG)
find_package(spdlog REQUIRED)
find_package(fmt REQUIRED)
find_package(Threads REQUIRED)
find_package(GTest REQUIRED)
if(TARVEK_BENCH AND NOT TARVEK_SANITIZE)
  find_package(benchmark REQUIRED)
endif()
