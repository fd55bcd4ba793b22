# The imported target tarvek::tesseract: Tesseract 5 and Leptonica as Debian
# ships them, located through pkg-config. Used by the build and by the
# installed package alike, like TarvekOpenCV.cmake.
find_package(PkgConfig REQUIRED)
pkg_check_modules(TARVEK_TESSERACT REQUIRED tesseract lept)
add_library(tarvek::tesseract INTERFACE IMPORTED)
target_include_directories(tarvek::tesseract INTERFACE ${TARVEK_TESSERACT_INCLUDE_DIRS})
target_link_directories(tarvek::tesseract INTERFACE ${TARVEK_TESSERACT_LIBRARY_DIRS})
target_link_libraries(tarvek::tesseract INTERFACE ${TARVEK_TESSERACT_LIBRARIES})
