# The layering, written down and kept: every header of src/ and tools/ belongs to the library
# or program whose folder holds it, and a file may include a header only from its own target or
# from a target its target links (directly or through the libraries it links). This file
# collects the targets and their link closures when the tree is configured; the test
# `layering` (check_layering.cmake) reads every file's includes when it runs.

function(quilo_collect_targets dir out)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    quilo_collect_targets(${sub} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# The project's targets that TARGET links, directly or through the libraries it links.
function(quilo_link_closure target out)
  set(seen)
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue t)
    get_target_property(libs ${t} LINK_LIBRARIES)
    if(NOT libs)
      continue()
    endif()
    foreach(lib IN LISTS libs)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
      if(TARGET ${lib} AND NOT lib IN_LIST seen)
        list(APPEND seen ${lib})
        list(APPEND queue ${lib})
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(quilo_layering_test)
  quilo_collect_targets(${CMAKE_SOURCE_DIR} targets)
  set(data "set(QUILO_LAYERING_TARGETS)\n")
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "UTILITY" OR type STREQUAL "INTERFACE_LIBRARY")
      continue()
    endif()
    get_target_property(dir ${t} SOURCE_DIR)
    if(NOT dir MATCHES "^${CMAKE_SOURCE_DIR}/(src|tools)/")
      continue()
    endif()
    get_target_property(sources ${t} SOURCES)
    set(files)
    foreach(s IN LISTS sources)
      if(s MATCHES "\\.(cpp|h)$")
        get_filename_component(s "${s}" ABSOLUTE BASE_DIR "${dir}")
        list(APPEND files "${s}")
      endif()
    endforeach()
    quilo_link_closure(${t} closure)
    string(APPEND data "list(APPEND QUILO_LAYERING_TARGETS ${t})\n"
                       "set(QUILO_LAYERING_${t}_DIR \"${dir}\")\n"
                       "set(QUILO_LAYERING_${t}_FILES \"${files}\")\n"
                       "set(QUILO_LAYERING_${t}_LINKS \"${closure}\")\n")
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/layering-data.cmake "${data}")
  add_test(NAME layering
           COMMAND ${CMAKE_COMMAND} -DDATA=${CMAKE_BINARY_DIR}/layering-data.cmake
                   -DROOT=${CMAKE_SOURCE_DIR} -P ${CMAKE_SOURCE_DIR}/cmake/check_layering.cmake)
  if(QUILO_WINDOWS)
    # The Windows builds run only their labelled suites; the check runs with them, so the
    # Windows-only folders are held too.
    set_tests_properties(layering PROPERTIES LABELS wine)
  endif()
endfunction()
