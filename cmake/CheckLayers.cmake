# Fails when a source file includes a header of a module above its own:
# dependencies point down only. Run as a test:
#   cmake -DSOURCE_DIR=<project>/src -P cmake/CheckLayers.cmake
# Each list below holds the layers, lowest first, a layer's modules parted by
# commas; a module may include its own headers and those of any lower layer,
# never one of its own layer or above. The gui may include every core module.

set(core_layers
  "platform"
  "services"
  "model"
  "profiles"
  "engine"
  "builders"
  "http,player,record"
  "download,slideshow")
set(gui_layers
  "controls"
  "common"
  "list,player"
  "editor,download,record,slideshow"
  "shell")

# Sets <prefix>_<module> to the layer number of every module of a layer list.
function(number_layers prefix)
  set(number 0)
  foreach(layer IN LISTS ARGN)
    string(REPLACE "," ";" modules "${layer}")
    foreach(module IN LISTS modules)
      set(${prefix}_${module} ${number} PARENT_SCOPE)
    endforeach()
    math(EXPR number "${number} + 1")
  endforeach()
endfunction()

set(upward "")

# Checks every file of one part (core or gui) against its layers.
function(check_part part prefix)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${part}/*.h" "${SOURCE_DIR}/${part}/*.cpp")
  foreach(file IN LISTS files)
    file(RELATIVE_PATH relative "${SOURCE_DIR}/${part}" "${file}")
    string(REGEX MATCH "^[^/]+" module "${relative}")
    set(own "${${prefix}_${module}}")
    if(own STREQUAL "")
      list(APPEND upward "${part}/${relative}: module \"${module}\" has no layer")
      continue()
    endif()
    file(STRINGS "${file}" includes REGEX "^#include \"[a-z]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"(([a-z]+)/[^\"]*)\".*" "\\1" path "${line}")
      string(REGEX REPLACE "/.*" "" target "${path}")
      # Own headers may be generated; the gui may include any core header
      # (core and gui share some module names, so the file decides).
      if(target STREQUAL module)
        continue()
      endif()
      if(NOT EXISTS "${SOURCE_DIR}/${part}/${path}")
        if(part STREQUAL "core")
          list(APPEND upward "${part}/${relative}: ${line} is not a core header")
        endif()
        continue()
      endif()
      if(NOT "${${prefix}_${target}}" LESS own)
        list(APPEND upward "${part}/${relative}: ${line}")
      endif()
    endforeach()
  endforeach()
  set(upward "${upward}" PARENT_SCOPE)
endfunction()

number_layers(core ${core_layers})
check_part(core core)
number_layers(gui ${gui_layers})
check_part(gui gui)

if(upward)
  list(JOIN upward "\n  " text)
  message(FATAL_ERROR "Includes that run up the layers:\n  ${text}")
endif()
message(STATUS "Every include points down the layers")
