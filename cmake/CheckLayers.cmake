# Refuses an #include that points up the layers of src/: every folder may include itself and the
# folders it depends on, directly or through another, and nothing else of src/.
#
#   cmake -DSOURCE_DIR=<src> -DLAYERS=<folder>=<dep>,<dep>|<folder>=...|... [-DSTAMP=<file>] -P CheckLayers.cmake
#
# LAYERS lists each folder's direct dependencies; the build passes what src/CMakeLists.txt
# declares. With STAMP, the file is touched when every include is allowed.

cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" layers "${LAYERS}")
set(folders "")
foreach(entry IN LISTS layers)
  string(REPLACE "=" ";" parts "${entry}")
  list(GET parts 0 folder)
  list(LENGTH parts n)
  set(deps "")
  if(n GREATER 1)
    list(GET parts 1 joined)
    string(REPLACE "," ";" deps "${joined}")
  endif()
  set(direct_${folder} ${deps})
  list(APPEND folders ${folder})
endforeach()

# The folders each folder may include: itself and the closure of its dependencies.
foreach(folder IN LISTS folders)
  set(allowed ${folder})
  set(pending ${direct_${folder}})
  while(pending)
    list(POP_FRONT pending dep)
    if(NOT dep IN_LIST allowed)
      list(APPEND allowed ${dep})
      list(APPEND pending ${direct_${dep}})
    endif()
  endwhile()
  set(allowed_${folder} ${allowed})
endforeach()

set(problems "")
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[A-Za-z0-9_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([A-Za-z0-9_]+)/.*" "\\1" target "${line}")
      # Only the folders of src/ are layers; anything else is not this check's business.
      if(NOT target IN_LIST folders OR target IN_LIST allowed_${folder})
        continue()
      endif()
      file(RELATIVE_PATH shown "${SOURCE_DIR}" "${file}")
      list(JOIN allowed_${folder} ", " shown_allowed)
      string(APPEND problems "  ${shown}: ${line} (${folder}/ may include ${shown_allowed})\n")
    endforeach()
  endforeach()
endforeach()

if(problems)
  message(FATAL_ERROR "An include points up the layers of src/:\n${problems}"
                      "Move the code to the layer that may see both, or declare the dependency in "
                      "src/CMakeLists.txt if it goes down.")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
