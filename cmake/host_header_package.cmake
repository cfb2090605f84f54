# corvanite_host_header_package(TARGET NAME HEADERS DIR...): an INTERFACE target NAME for
# a header-only library that Debian installs for the build machine only, when cross
# compiling. The headers under /usr/include/DIR are copied into the build tree, so that
# the cross compiler sees them and nothing else of the build machine's /usr/include.
function(corvanite_host_header_package)
  cmake_parse_arguments(PKG "" "TARGET" "HEADERS" ${ARGN})
  if(NOT PKG_TARGET OR NOT PKG_HEADERS)
    message(FATAL_ERROR "corvanite_host_header_package needs TARGET and HEADERS")
  endif()
  string(MAKE_C_IDENTIFIER "${PKG_TARGET}" dir_name)
  set(include_dir ${CMAKE_BINARY_DIR}/host-headers/${dir_name})
  foreach(headers IN LISTS PKG_HEADERS)
    if(NOT IS_DIRECTORY /usr/include/${headers})
      message(FATAL_ERROR "/usr/include/${headers} is missing: install the package that ships it")
    endif()
    file(COPY /usr/include/${headers} DESTINATION ${include_dir})
  endforeach()
  add_library(${PKG_TARGET} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${PKG_TARGET} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${include_dir})
endfunction()
