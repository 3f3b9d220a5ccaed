# SPDX-License-Identifier: GPL-2.0-or-later
# Removes what the last install put in place: every file listed in
# install_manifest.txt (below DESTDIR when set), then the directories that
# install created and that are now empty.
#   cmake -DMANIFEST=<build>/install_manifest.txt -P VarkonUninstall.cmake
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: ${MANIFEST} does not exist (run the install first)")
endif()

file(STRINGS "${MANIFEST}" installed)
set(dirs "")
foreach(file IN LISTS installed)
  set(path "$ENV{DESTDIR}${file}")
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    message(STATUS "Removing ${path}")
    file(REMOVE "${path}")
    if(EXISTS "${path}" OR IS_SYMLINK "${path}")
      message(FATAL_ERROR "Could not remove ${path}")
    endif()
  else()
    message(STATUS "Already gone: ${path}")
  endif()
  get_filename_component(dir "${path}" DIRECTORY)
  list(APPEND dirs "${dir}")
endforeach()

# Only our own directories go, and only when empty: the varkon PPD directory,
# never shared ones like bin or the CUPS filter directory.
list(REMOVE_DUPLICATES dirs)
foreach(dir IN LISTS dirs)
  get_filename_component(name "${dir}" NAME)
  if(name STREQUAL "varkon" AND IS_DIRECTORY "${dir}")
    file(GLOB left "${dir}/*")
    if(NOT left)
      message(STATUS "Removing ${dir}")
      file(REMOVE_RECURSE "${dir}")
    endif()
  endif()
endforeach()
