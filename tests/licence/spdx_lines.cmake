# SPDX-License-Identifier: GPL-2.0-or-later
# The licence check of the test suite: every source file git tracks (every one
# below the folder outside a checkout) opens with its SPDX line, after the
# shebang of a script. Fails, naming each file, where one does not.
#
#   cmake -DSOURCE_DIR=<top of the tree> -P spdx_lines.cmake
cmake_minimum_required(VERSION 3.20)
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "spdx_lines.cmake: set SOURCE_DIR to the top of the tree")
endif()

# Sources as the guide counts them: code, build files, manual pages, scripts.
set(source_pattern
    "(\\.(cpp|h|py|sh|drv|cmake|[1-8])|(^|/)CMakeLists\\.txt|^scripts/[^./]+|^tests/standins/[^./]+)$")
set(spdx_line "SPDX-License-Identifier: GPL-2\\.0-or-later")

set(listed 1)
if(EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND git -c core.quotePath=false ls-files
                  WORKING_DIRECTORY "${SOURCE_DIR}"
                  RESULT_VARIABLE listed OUTPUT_VARIABLE tracked ERROR_QUIET)
endif()
if(listed EQUAL 0)
  string(REPLACE "\n" ";" files "${tracked}")
else()
  # A tree without git, such as an unpacked release: every file but builds.
  file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*")
  list(FILTER files EXCLUDE REGEX "(^|/)(build[^/]*|CMakeFiles|\\.git)/")
endif()
list(FILTER files INCLUDE REGEX "${source_pattern}")

set(missing "")
set(checked 0)
foreach(file IN LISTS files)
  if(NOT EXISTS "${SOURCE_DIR}/${file}" OR IS_DIRECTORY "${SOURCE_DIR}/${file}")
    continue() # deleted in the working tree, or a submodule
  endif()
  file(READ "${SOURCE_DIR}/${file}" head LIMIT 512)
  math(EXPR checked "${checked} + 1")
  if(NOT head MATCHES "^(#![^\n]*\n)?[^\n]*${spdx_line}")
    list(APPEND missing "${file}")
  endif()
endforeach()

if(missing)
  foreach(file IN LISTS missing)
    message("${file}: lacks the line \"SPDX-License-Identifier: GPL-2.0-or-later\" at its top")
  endforeach()
  list(LENGTH missing count)
  message(FATAL_ERROR "${count} of ${checked} source files lack their SPDX line")
endif()
message("${checked} source files, each with its SPDX line")
