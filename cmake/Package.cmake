# The Debian package, built by scripts/package (cpack -G DEB): what cmake
# --install puts in place, plus the page, the systemd unit, its settings in
# /etc/default and the files Debian asks of every package.
set(TARVEK_DEPLOY ${CMAKE_SOURCE_DIR}/deploy)
install(FILES ${CMAKE_SOURCE_DIR}/www/index.html DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvek)
install(FILES ${TARVEK_DEPLOY}/tarvek.service DESTINATION lib/systemd/system)
# The settings file belongs in the system's /etc whatever the prefix, so only a
# build for the package (scripts/package) installs it: a `cmake --install` into
# any other prefix must not write outside it.
option(TARVEK_PACKAGE "Install what only the Debian package holds (/etc/default/tarvek)" OFF)
if(TARVEK_PACKAGE)
  install(FILES ${TARVEK_DEPLOY}/tarvek.default DESTINATION /etc/default RENAME tarvek)
endif()

# Debian's documentation files: the copyright notice, and the changelog compressed
# without a time stamp so that two builds give the same bytes.
set(TARVEK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tarvek)
install(FILES ${TARVEK_DEPLOY}/copyright DESTINATION ${TARVEK_DOC_DIR})
install(FILES ${TARVEK_DEPLOY}/README.md DESTINATION ${TARVEK_DOC_DIR} RENAME deploy.md)
configure_file(${TARVEK_DEPLOY}/changelog.in ${CMAKE_BINARY_DIR}/package/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/package/changelog.gz
                   COMMAND gzip -9nf -k ${CMAKE_BINARY_DIR}/package/changelog
                   DEPENDS ${CMAKE_BINARY_DIR}/package/changelog)
add_custom_target(tarvek-changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/package/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/package/changelog.gz DESTINATION ${TARVEK_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvek)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "tarvek maintainers <maintainers@tarvek.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "finds, flattens, cleans and reads photographed paper documents")
set(CPACK_PACKAGE_DESCRIPTION "tarvek finds the page in a photograph of a paper document, flattens it,
turns it black and white or removes its background, and reads its text and
a receipt's business name, telephone, date and total. The package holds the
HTTP service tarvek-server with its systemd unit, the command line tool
tarvek, the Python package, and the C++ library with its headers, CMake and
pkg-config files.")

# Manual pages made from the programs' own --help and --version, compressed as
# the changelog; only where help2man is installed (scripts/setup installs it).
find_program(TARVEK_HELP2MAN help2man)
if(TARVEK_HELP2MAN)
  set(TARVEK_MAN_PAGES)
  foreach(target tarvek-cli tarvek-server)
    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT name)
      set(name ${target})
    endif()
    set(page ${CMAKE_BINARY_DIR}/package/${name}.1)
    add_custom_command(OUTPUT ${page}.gz
                       COMMAND ${TARVEK_HELP2MAN} --no-info --no-discard-stderr --output=${page}
                               --name=${CPACK_PACKAGE_DESCRIPTION_SUMMARY} $<TARGET_FILE:${target}>
                       COMMAND gzip -9nf ${page}
                       DEPENDS ${target} VERBATIM)
    list(APPEND TARVEK_MAN_PAGES ${page}.gz)
  endforeach()
  add_custom_target(tarvek-man DEPENDS ${TARVEK_MAN_PAGES})
  install(FILES ${TARVEK_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 OPTIONAL)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # tarvek_VERSION_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the programs link, as Debian's package names; the Python
# package needs its interpreter and NumPy on top, and reading the models of
# the languages it offers and of page orientation.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= 3.11), python3 (<< 3.12), python3-numpy, tesseract-ocr-eng, \
tesseract-ocr-kor, tesseract-ocr-deu, tesseract-ocr-osd")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "nginx, libopencv-dev, libtesseract-dev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${TARVEK_DEPLOY}/debian/conffiles ${TARVEK_DEPLOY}/debian/postinst
                                       ${TARVEK_DEPLOY}/debian/prerm ${TARVEK_DEPLOY}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_SET_DESTDIR OFF)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
