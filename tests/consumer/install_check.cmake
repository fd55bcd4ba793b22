# cmake -DBUILD=... -DWORK=... -DPHOTO=... -DVERSION=... [-DFLAGS=...] -P install_check.cmake
# Installs the build tree into a fresh prefix, checks what the prefix holds,
# then builds the consumer project against it and runs it on a photo; the
# package, the pkg-config file and the library all report VERSION.
file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

file(GLOB internal ${prefix}/include/tarvek/*_internal.h)
file(GLOB_RECURSE pkgconfig ${prefix}/*/tarvek.pc)
if(internal OR NOT EXISTS ${prefix}/include/tarvek/documentarea.h OR NOT pkgconfig)
  message(FATAL_ERROR "unexpected headers or pkg-config file in ${prefix}: ${internal} ${pkgconfig}")
endif()
# Nothing is written outside the prefix (the system's /etc belongs to the package alone).
file(STRINGS ${BUILD}/install_manifest.txt installed)
foreach(path IN LISTS installed)
  string(FIND "${path}" "${prefix}/" at)
  if(NOT at EQUAL 0)
    message(FATAL_ERROR "installed outside ${prefix}: ${path}")
  endif()
endforeach()
foreach(program tarvek tarvek-server)
  if(NOT EXISTS ${prefix}/bin/${program})
    message(FATAL_ERROR "${program} not installed")
  endif()
endforeach()

# The package version file admits the installed release and earlier ones of its major version only.
string(REGEX MATCH "^([0-9]+)\\.([0-9]+)" _ ${VERSION})
set(major ${CMAKE_MATCH_1})
set(minor ${CMAKE_MATCH_2})
math(EXPR next_major "${major} + 1")
math(EXPR next_minor "${minor} + 1")
foreach(refused ${next_major}.0 ${major}.${next_minor})
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${WORK}/refused-${refused}
                          -DCMAKE_PREFIX_PATH=${prefix} -DTARVEK_WANTED=${refused}
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(status EQUAL 0)
    message(FATAL_ERROR "find_package(tarvek ${refused}) accepted the installed ${VERSION}")
  endif()
endforeach()

execute_process(COMMAND ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${WORK}/build -DCMAKE_PREFIX_PATH=${prefix}
                        -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS=${FLAGS}" -DTARVEK_WANTED=${major}.${minor}
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${WORK}/build/consumer ${PHOTO} OUTPUT_VARIABLE said COMMAND_ERROR_IS_FATAL ANY)
if(NOT said MATCHES "^tarvek ${VERSION}: ")
  message(FATAL_ERROR "the consumer reports \"${said}\", not version ${VERSION}")
endif()

# The same program built with nothing but the pkg-config file's flags.
execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig:${prefix}/lib/x86_64-linux-gnu/pkgconfig
                        pkg-config --cflags --libs tarvek
                OUTPUT_VARIABLE pkgconfig_flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig:${prefix}/lib/x86_64-linux-gnu/pkgconfig
                        pkg-config --modversion tarvek
                OUTPUT_VARIABLE pkgconfig_version OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
if(NOT pkgconfig_version STREQUAL VERSION)
  message(FATAL_ERROR "pkg-config reports version ${pkgconfig_version}, not ${VERSION}")
endif()
separate_arguments(pkgconfig_flags UNIX_COMMAND "${pkgconfig_flags}")
separate_arguments(extra_flags UNIX_COMMAND "${FLAGS}")
execute_process(COMMAND ${CXX} -std=c++17 ${extra_flags} ${CMAKE_CURRENT_LIST_DIR}/consumer.cpp ${pkgconfig_flags}
                        -o ${WORK}/consumer-pkgconfig COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${WORK}/consumer-pkgconfig ${PHOTO} COMMAND_ERROR_IS_FATAL ANY)
