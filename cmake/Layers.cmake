# The SDK's libraries stand in layers: each may link and include only the libraries listed
# before it here. What a lower library needs from a higher one is handed to it through an
# interface or a parameter, so the libraries form a chain without cycles.
#
# Included by the top-level CMakeLists.txt, it checks the links at configure time
# (cb_check_layer_links, after every target exists). Run as a script
# (cmake -DCB_SOURCE_DIR=<repo> -P cmake/Layers.cmake), it checks the #include lines of each
# layer's sources; ctest runs it as the test "layers_includes".

# target:folder, lowest first. A folder's own files belong to its target; its subfolders are
# listed on their own where they are a layer.
set(CB_LAYERS
  sdk_utilities:sdk/utilities
  sdk_promises:sdk/promises
  sdk_core:sdk/core
  sdk_installations:sdk/installations
  sdk_measurement_messages:sdk/measurement/messages
  sdk_measurement_engine_foundation:sdk/measurement/engine
  sdk_measurement_storage:sdk/measurement/storage
  sdk_measurement_audiences:sdk/measurement/audiences
  sdk_measurement_experiments:sdk/measurement/experiments
  sdk_measurement_script:sdk/measurement/script
  sdk_measurement_attribution:sdk/measurement/attribution
  sdk_measurement_engine:sdk/measurement/engine/core
  sdk_analytics:sdk/analytics)

# Sets `out_target` and `out_folder` from one CB_LAYERS entry.
function(cb_layer_split entry out_target out_folder)
  string(FIND "${entry}" ":" colon)
  string(SUBSTRING "${entry}" 0 ${colon} target)
  math(EXPR start "${colon} + 1")
  string(SUBSTRING "${entry}" ${start} -1 folder)
  set(${out_target} "${target}" PARENT_SCOPE)
  set(${out_folder} "${folder}" PARENT_SCOPE)
endfunction()

# Fails the configuration when a layer links a layer at or above its own rank.
function(cb_check_layer_links)
  set(targets)
  foreach(entry IN LISTS CB_LAYERS)
    cb_layer_split("${entry}" target folder)
    list(APPEND targets "${target}")
  endforeach()
  set(problems)
  foreach(target IN LISTS targets)
    if(NOT TARGET ${target})
      continue()
    endif()
    list(FIND targets ${target} rank)
    get_target_property(direct ${target} LINK_LIBRARIES)
    get_target_property(interface ${target} INTERFACE_LINK_LIBRARIES)
    foreach(linked IN LISTS direct interface)
      # Private links of a static library appear as $<LINK_ONLY:name> in its interface.
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" linked "${linked}")
      list(FIND targets "${linked}" linked_rank)
      if(linked_rank GREATER_EQUAL rank)
        list(APPEND problems "${target} links ${linked}, which does not stand below it")
      endif()
    endforeach()
  endforeach()
  if(problems)
    list(REMOVE_DUPLICATES problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "Library layers (cmake/Layers.cmake) broken:\n  ${text}")
  endif()
endfunction()

# Script mode: every #include "sdk/..." of a layer's own files must name a file of its own
# layer or of one below it.
if(CMAKE_SCRIPT_MODE_FILE)
  if(NOT CB_SOURCE_DIR)
    message(FATAL_ERROR "Pass -DCB_SOURCE_DIR=<repository>")
  endif()
  set(folders)
  foreach(entry IN LISTS CB_LAYERS)
    cb_layer_split("${entry}" target folder)
    list(APPEND folders "${folder}")
  endforeach()
  set(problems)
  set(checked 0)
  foreach(folder IN LISTS folders)
    list(FIND folders "${folder}" rank)
    file(GLOB files "${CB_SOURCE_DIR}/${folder}/*.h" "${CB_SOURCE_DIR}/${folder}/*.cpp")
    foreach(file IN LISTS files)
      math(EXPR checked "${checked} + 1")
      file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"sdk/")
      foreach(line IN LISTS includes)
        string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*$" "\\1" included "${line}")
        get_filename_component(included_folder "${included}" DIRECTORY)
        list(FIND folders "${included_folder}" included_rank)
        if(included_rank GREATER rank)
          file(RELATIVE_PATH relative "${CB_SOURCE_DIR}" "${file}")
          list(APPEND problems "${relative} includes ${included}, which stands above it")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(checked EQUAL 0)
    message(FATAL_ERROR "No sources found under ${CB_SOURCE_DIR}")
  endif()
  if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "Includes across the library layers (cmake/Layers.cmake):\n  ${text}")
  endif()
  message(STATUS "layers: ${checked} files include only their own layer or those below it")
endif()
