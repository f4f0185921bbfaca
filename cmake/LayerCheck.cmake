# The layer check: every #include in src/ and tools/ names a file of its own
# layer or of one its row below allows, and only the Qt layers include Qt.
#   cmake -DROOT=<source tree> -P LayerCheck.cmake
# Fails naming each offending include.
cmake_minimum_required(VERSION 3.25)

# A file's layer: the first pattern that matches its path under ROOT gives it
# ("\\1" is the folder's name), so new files in a folder need no change here.
set(rules
    "^src/config/(Settings|SettingsWin|IniFile)\\." settings  # the Qt-free part of config
    "^src/([a-z]+)/" "\\1"
    "^tools/" tools)

# Layer, whether it may include Qt, and the layers it may include besides its
# own.  A new folder under src/ needs a row.
set(layers
    "base     no"
    "serial   no  base"
    "bus      no  base serial"
    "capture  no  base serial bus"
    "series   no  base bus"
    "sim      no  base serial bus capture"
    "settings no  base"
    "controls Qt  base"
    "config   Qt  base serial settings controls"
    "traffic  no  base bus"
    "analysis no  base bus traffic series settings"
    "session  no  base serial bus capture traffic series analysis"
    "app      Qt  base serial bus capture series sim settings controls config traffic analysis session"
    "tools    no  base serial bus capture sim settings traffic analysis")

function(layer_of path out)
  set(${out} "" PARENT_SCOPE)
  set(list ${rules})
  while(list)
    list(POP_FRONT list pattern layer)
    if(path MATCHES "${pattern}")
      string(REGEX REPLACE "${pattern}.*" "${layer}" name "${path}")
      set(${out} ${name} PARENT_SCOPE)
      return()
    endif()
  endwhile()
endfunction()

set(errors "")
file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/src/*.h ${ROOT}/src/*.cpp ${ROOT}/tools/*.h
     ${ROOT}/tools/*.cpp)
# A row no file falls under describes a layer that is not there (a stale row
# would let the table and the tree drift apart unseen).
set(present "")
foreach(file IN LISTS files)
  layer_of(${file} layer)
  list(APPEND present ${layer})
endforeach()
foreach(entry IN LISTS layers)
  string(REGEX REPLACE " +" ";" entry "${entry}")
  list(GET entry 0 name)
  if(NOT name IN_LIST present)
    list(APPEND errors "layer '${name}': its row matches no file")
  endif()
endforeach()
foreach(file IN LISTS files)
  layer_of(${file} layer)
  set(row "")
  foreach(entry IN LISTS layers)
    string(REGEX REPLACE " +" ";" entry "${entry}")
    list(POP_FRONT entry name qt)
    if(name STREQUAL layer)
      set(row ${entry})
      break()
    endif()
  endforeach()
  if(NOT name STREQUAL layer)
    list(APPEND errors "${file}: layer '${layer}' has no row in the layer table")
    continue()
  endif()
  get_filename_component(dir ${file} DIRECTORY)
  file(STRINGS ${ROOT}/${file} includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    if(line MATCHES "<(Qt?[A-Z][^>]*)>" AND NOT qt STREQUAL "Qt")
      list(APPEND errors "${file}: <${CMAKE_MATCH_1}> in the Qt-free layer ${layer}")
    elseif(line MATCHES "\"([^\"]+)\"")
      set(inc ${CMAKE_MATCH_1})
      if(EXISTS ${ROOT}/${dir}/${inc})
        get_filename_component(target ${ROOT}/${dir}/${inc} ABSOLUTE)
      elseif(EXISTS ${ROOT}/src/${inc})
        get_filename_component(target ${ROOT}/src/${inc} ABSOLUTE)
      else()
        continue()  # generated, or not the project's
      endif()
      file(RELATIVE_PATH target ${ROOT} ${target})
      layer_of(${target} used)
      if(NOT used STREQUAL layer AND NOT used IN_LIST row)
        list(APPEND errors "${file}: \"${inc}\" is in layer '${used}', which ${layer} may not use")
      endif()
    endif()
  endforeach()
endforeach()

if(errors)
  list(LENGTH errors count)
  list(JOIN errors "\n" text)
  message("${text}")
  message(FATAL_ERROR "${count} fault(s) in the layers")
endif()
list(LENGTH files count)
message(STATUS "Layers kept by ${count} files")
