# Run by CPack on the staged files before it builds the package: the
# package's Depends and Suggests from the libraries its ELF files need.
#
# The program, the administration command and libquelmarauth need their
# libraries on every site: Depends. A store module (pam.so, sqlite.so, ...)
# is opened only when a configuration names its backend, so the libraries
# only modules need (libpam0g, libsqlite3-0, libpq5) are Suggests: a site on
# the account file installs none of them, and a module whose library is
# missing is refused with a diagnostic that names the library.
#
# Expects CPACK_TEMPORARY_DIRECTORY (the staging folder, set by CPack),
# CPACK_ZEMBROVALD_MODULE_DIR (the modules' folder below the prefix), and the
# user-given CPACK_DEBIAN_PACKAGE_DEPENDS and _SUGGESTS, which it extends.

find_program(ZEMBROVALD_SHLIBDEPS dpkg-shlibdeps)
if(NOT ZEMBROVALD_SHLIBDEPS)
  message(FATAL_ERROR "dpkg-shlibdeps (Debian dpkg-dev) is needed to compute the package's dependencies")
endif()

set(staging "${CPACK_TEMPORARY_DIRECTORY}")
set(module_dir "${staging}${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_ZEMBROVALD_MODULE_DIR}")

# The staged ELF files, modules apart from the rest.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${staging}/*")
set(core_files)
set(module_files)
foreach(path IN LISTS staged)
  if(IS_SYMLINK "${path}")
    continue()
  endif()
  file(READ "${path}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  cmake_path(GET path PARENT_PATH folder)
  if(folder STREQUAL module_dir)
    list(APPEND module_files "${path}")
  else()
    list(APPEND core_files "${path}")
  endif()
endforeach()
if(NOT core_files)
  message(FATAL_ERROR "no ELF files staged in ${staging}")
endif()

# dpkg-shlibdeps wants a source package's control file, and a DEBIAN folder
# to take the staging folder for the package's own tree (libquelmarauth.so.1
# is found there, not on the machine).
file(WRITE "${staging}/debian/control" "")
file(MAKE_DIRECTORY "${staging}/DEBIAN")

# "libc6 (>= 2.36), libpam0g (>= 0.99.7.1)" for the files, as a list of
# entries.
function(library_packages out)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${ZEMBROVALD_SHLIBDEPS} -O ${ARGN}
    WORKING_DIRECTORY "${staging}"
    RESULT_VARIABLE status
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-shlibdeps failed for ${ARGN}:\n${errors}")
  endif()
  string(REGEX REPLACE "^.*Depends=" "" output "${output}")
  string(STRIP "${output}" output)
  string(REPLACE ", " ";" entries "${output}")
  set(${out} "${entries}" PARENT_SCOPE)
endfunction()

# The package name an entry names ("libpam0g" of "libpam0g (>= 0.99.7.1)").
function(package_name entry out)
  string(REGEX MATCH "^[^ (|]+" name "${entry}")
  set(${out} "${name}" PARENT_SCOPE)
endfunction()

library_packages(core_entries ${core_files})
set(core_names)
foreach(entry IN LISTS core_entries)
  package_name("${entry}" name)
  list(APPEND core_names "${name}")
endforeach()

set(module_only)
if(module_files)
  library_packages(module_entries ${module_files})
  foreach(entry IN LISTS module_entries)
    package_name("${entry}" name)
    list(FIND core_names "${name}" in_core)
    if(in_core EQUAL -1)
      list(APPEND module_only "${entry}")
    endif()
  endforeach()
endif()

file(REMOVE_RECURSE "${staging}/debian" "${staging}/DEBIAN")

set(depends ${core_entries})
if(CPACK_DEBIAN_PACKAGE_DEPENDS)
  list(PREPEND depends "${CPACK_DEBIAN_PACKAGE_DEPENDS}")
endif()
string(REPLACE ";" ", " CPACK_DEBIAN_PACKAGE_DEPENDS "${depends}")
set(suggests ${module_only})
if(CPACK_DEBIAN_PACKAGE_SUGGESTS)
  list(APPEND suggests "${CPACK_DEBIAN_PACKAGE_SUGGESTS}")
endif()
string(REPLACE ";" ", " CPACK_DEBIAN_PACKAGE_SUGGESTS "${suggests}")
message(STATUS "zembrovald package: Depends: ${CPACK_DEBIAN_PACKAGE_DEPENDS}")
message(STATUS "zembrovald package: Suggests: ${CPACK_DEBIAN_PACKAGE_SUGGESTS}")
