# Makes the DVD builder table's entry points from its row list (run with -P):
#   ROWS    the row list, src/core/builders/dvd/DVDArgvAssemblerRows.txt
#   OUTPUT  the folder for DVDEntryPoints.h, DVDEntryPoints.cpp, DVDTableRows.inc
# A file is only rewritten when its text changes, so an edit of the list
# rebuilds what depends on it and nothing else.
cmake_minimum_required(VERSION 3.22)

set(signature "(const std::shared_ptr<NXBasicMediaNode>& node, int32_t titleIndex, EncodeConfig config)")
set(declarations "")
set(definitions "")
set(rows "")
set(defined "")

function(strip_fields line out)
  string(REPLACE "|" ";" fields "${line}")
  set(stripped "")
  foreach(field IN LISTS fields)
    string(STRIP "${field}" field)
    list(APPEND stripped "${field}")
  endforeach()
  set(${out} "${stripped}" PARENT_SCOPE)
endfunction()

# Appends the function NAME of KIND forwarding to TARGET, once per name.
macro(define_entry name kind target guard)
  list(FIND defined "${name}" known)
  if(known EQUAL -1)
    list(APPEND defined "${name}")
    string(APPEND declarations "ArgumentBlockPtr ${name}${signature};\n")
    string(APPEND definitions "ArgumentBlockPtr ${name}${signature}\n{\n")
    if(kind STREQUAL "guarded")
      string(APPEND definitions "    if (!node)\n        return refuseDVDBuild(\"${name}\", QStringLiteral(\"no DVD source (${guard})\"));\n")
    elseif(NOT kind STREQUAL "forward")
      message(FATAL_ERROR "${ROWS}: ${name}: unknown kind \"${kind}\"")
    endif()
    string(APPEND definitions "    return ${target}(node, titleIndex, config);\n}\n\n")
  endif()
endmacro()

file(STRINGS "${ROWS}" lines)
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*(#|$)")
    continue()
  endif()
  strip_fields("${line}" fields)
  list(LENGTH fields count)
  if(count LESS 3)
    message(FATAL_ERROR "${ROWS}: too few fields in \"${line}\"")
  endif()
  list(GET fields 0 what)
  list(GET fields 1 name)
  list(GET fields 2 kind)
  if(kind STREQUAL "core")
    # The row holds a core builder of a family header, defined there and
    # declared again here for the table.
    string(APPEND declarations "ArgumentBlockPtr ${name}${signature};\n")
    string(APPEND rows "    { \"${name}\", &${name} },\n")
    continue()
  endif()
  if(count LESS 4)
    message(FATAL_ERROR "${ROWS}: too few fields in \"${line}\"")
  endif()
  list(GET fields 3 target)
  set(guard "")
  set(function "${name}")
  if(count GREATER 4)
    list(GET fields 4 guard)
  endif()
  if(count GREATER 5)
    list(GET fields 5 function)
  endif()
  if(kind STREQUAL "guarded" AND guard STREQUAL "")
    message(FATAL_ERROR "${ROWS}: ${name}: a guarded entry needs its guard text")
  endif()
  define_entry("${function}" "${kind}" "${target}" "${guard}")
  if(what STREQUAL "row")
    string(APPEND rows "    { \"${name}\", &${function} },\n")
  elseif(NOT what STREQUAL "entry")
    message(FATAL_ERROR "${ROWS}: a line starts with \"row\" or \"entry\", not \"${what}\"")
  endif()
endforeach()

set(notice "// Generated from builders/dvd/DVDArgvAssemblerRows.txt by cmake/GenerateDVDEntries.cmake.\n")

function(write_if_changed path text)
  if(EXISTS "${path}")
    file(READ "${path}" old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE "${path}" "${text}")
endfunction()

file(MAKE_DIRECTORY "${OUTPUT}")
write_if_changed("${OUTPUT}/DVDEntryPoints.h" "${notice}#pragma once

#include \"engine/ArgumentBlock.h\"
#include \"engine/EncodeConfig.h\"

#include <cstdint>
#include <memory>

class NXBasicMediaNode;

// The DVD table's rows and family entries: each hands the node, the title
// index and the options on to its target.
${declarations}")
write_if_changed("${OUTPUT}/DVDEntryPoints.cpp" "${notice}#include \"builders/dvd/DVDEntryPoints.h\"

#include \"builders/dvd/DVDBuild.h\"
#include \"builders/dvd/DVDTargets.h\"

${definitions}")
write_if_changed("${OUTPUT}/DVDTableRows.inc" "${notice}${rows}")
