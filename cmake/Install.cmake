# cmake --install: the library with its public headers, a CMake package
# (find_package(tarvek CONFIG) gives tarvek::tarvek), a pkg-config file, and
# the tarvek and tarvek-server programs. Internal headers stay in the tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

file(GLOB TARVEK_PUBLIC_HEADERS ${CMAKE_SOURCE_DIR}/src/*.h)
list(FILTER TARVEK_PUBLIC_HEADERS EXCLUDE REGEX "_internal\\.h$")
install(FILES ${TARVEK_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvek)
install(FILES ${CMAKE_SOURCE_DIR}/src/reading/reading.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvek/reading)

install(TARGETS tarvek EXPORT tarvekTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS tarvek-cli tarvek-server RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(TARVEK_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tarvek)
install(EXPORT tarvekTargets NAMESPACE tarvek:: DESTINATION ${TARVEK_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/tarvekConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/tarvekConfig.cmake INSTALL_DESTINATION ${TARVEK_PACKAGE_DIR})
# Any release of the same major version satisfies find_package(tarvek 0.2 CONFIG).
write_basic_package_version_file(${CMAKE_BINARY_DIR}/tarvekConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/tarvekConfig.cmake ${CMAKE_BINARY_DIR}/tarvekConfigVersion.cmake
              ${CMAKE_CURRENT_LIST_DIR}/TarvekOpenCV.cmake ${CMAKE_CURRENT_LIST_DIR}/TarvekTesseract.cmake
        DESTINATION ${TARVEK_PACKAGE_DIR})

# The .pc file finds its prefix from its own place, so that an install with --prefix works.
set(TARVEK_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH TARVEK_PKGCONFIG_TO_PREFIX /${TARVEK_PKGCONFIG_DIR} /)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tarvek.pc.in ${CMAKE_BINARY_DIR}/tarvek.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/tarvek.pc DESTINATION ${TARVEK_PKGCONFIG_DIR})
