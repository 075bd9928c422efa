# The layers of Notecrate, stated once: the table at the end of this file. Each source folder is
# one static library; it links the libraries of the folders named after USES, and its sources may
# include from those folders and from whatever they use in turn, never from anything else.
# The build links every library from the table (notecrate_library in CMakeLists.txt) and stops
# at a link the table does not name (notecrate_check_layer_links); tests/include_layers.cmake
# checks every include against it. Read by the build and, in script mode, by that test.

set(NOTECRATE_LAYERS "")

# notecrate_layer(folder library [USES folder...]): a row of the table. A folder may only use
# folders of earlier rows, so the layers cannot form a cycle.
macro(notecrate_layer _folder _library)
  cmake_parse_arguments(_layer "" "" "USES" ${ARGN})
  set(NOTECRATE_LAYER_LIBRARY_${_folder} ${_library})
  set(NOTECRATE_LAYER_USES_${_folder} ${_layer_USES})
  # What the folder may include from: itself and everything it reaches through what it uses.
  set(NOTECRATE_LAYER_REACH_${_folder} ${_folder})
  foreach(_used IN LISTS _layer_USES)
    if(NOT _used IN_LIST NOTECRATE_LAYERS)
      message(FATAL_ERROR "layer ${_folder} uses ${_used}, which is not a row above it")
    endif()
    list(APPEND NOTECRATE_LAYER_REACH_${_folder} ${NOTECRATE_LAYER_REACH_${_used}})
  endforeach()
  list(REMOVE_DUPLICATES NOTECRATE_LAYER_REACH_${_folder})
  list(APPEND NOTECRATE_LAYERS ${_folder})
endmacro()

# The libraries the table says `folder` links.
function(notecrate_layer_libraries _folder _out)
  set(_libraries "")
  foreach(_used IN LISTS NOTECRATE_LAYER_USES_${_folder})
    list(APPEND _libraries ${NOTECRATE_LAYER_LIBRARY_${_used}})
  endforeach()
  set(${_out} ${_libraries} PARENT_SCOPE)
endfunction()

# Stops the configuration when a folder's library links another folder's library that the table
# does not name for it (a target_link_libraries added by hand), or misses one it names.
function(notecrate_check_layer_links)
  set(_all "")
  foreach(_folder IN LISTS NOTECRATE_LAYERS)
    list(APPEND _all ${NOTECRATE_LAYER_LIBRARY_${_folder}})
  endforeach()
  set(_faults "")
  foreach(_folder IN LISTS NOTECRATE_LAYERS)
    set(_library ${NOTECRATE_LAYER_LIBRARY_${_folder}})
    get_target_property(_direct ${_library} LINK_LIBRARIES)
    get_target_property(_interface ${_library} INTERFACE_LINK_LIBRARIES)
    set(_linked "")
    foreach(_item IN LISTS _direct _interface)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" _item "${_item}")
      if(_item IN_LIST _all)
        list(APPEND _linked ${_item})
      endif()
    endforeach()
    list(REMOVE_DUPLICATES _linked)
    list(SORT _linked)
    notecrate_layer_libraries(${_folder} _expected)
    list(SORT _expected)
    if(NOT "${_linked}" STREQUAL "${_expected}")
      list(APPEND _faults "${_library} links [${_linked}], the table says [${_expected}]")
    endif()
  endforeach()
  if(_faults)
    list(JOIN _faults "\n  " _text)
    message(FATAL_ERROR "links that disagree with cmake/NotecrateLayers.cmake (change the table, "
      "not target_link_libraries):\n  ${_text}")
  endif()
endfunction()

#               folder          library         USES the folders right below it
notecrate_layer(platform        nc_platform)
notecrate_layer(platform/peer   nc_peer         USES platform)
notecrate_layer(conversion      nc_conversion   USES platform)
notecrate_layer(multipeer       nc_multipeer    USES platform platform/peer)
notecrate_layer(text            nc_text         USES platform)
notecrate_layer(layout          nc_layout       USES platform text)
notecrate_layer(layout/items    nc_layout_items USES layout)
notecrate_layer(tools           nc_tools        USES conversion multipeer)
notecrate_layer(app             nc_app          USES layout/items conversion multipeer tools)
