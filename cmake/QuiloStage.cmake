# The staged install of a Windows build, in ${QUILO_STAGE_DIR} (stage/<preset>/):
#   plugins.ini, TestHost.exe, TraceViewer.exe,
#   Quilo/QuiloPlugin.exe, Quilo/OrvaneEx.dll + OrvaneEx.ini, Quilo/*.lan, Quilo/Test.tif
# The programs of other folders stage themselves after they are built; the target
# `quilo_stage` builds everything the install needs.

function(quilo_stage_plugin target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILO_STAGE_DIR}/Quilo
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${QUILO_STAGE_DIR}/Quilo/
    VERBATIM)
  # Other programs are added after this folder; collect them once every folder is known.
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL quilo_stage_finish)
endfunction()

function(quilo_stage_finish)
  set(parts)
  foreach(t QuiloPlugin TestHost TraceViewer OrvaneEx)
    if(TARGET ${t})
      list(APPEND parts ${t})
    endif()
  endforeach()
  # The data files are copied by every build (a cheap copy_if_different), so that a changed
  # language file or scanner INI reaches the install without a program being rebuilt.
  file(GLOB languages ${CMAKE_SOURCE_DIR}/lang/*.lan)
  set(data ${CMAKE_SOURCE_DIR}/src/app/stage)  # this runs deferred, in the top folder's scope
  set(copies
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${data}/plugins.ini ${QUILO_STAGE_DIR}/
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${data}/Test.tif
            ${languages} ${QUILO_STAGE_DIR}/Quilo/)
  if(TARGET OrvaneEx)
    list(APPEND copies COMMAND ${CMAKE_COMMAND} -E copy_if_different
         ${CMAKE_SOURCE_DIR}/tools/orvane-sim/OrvaneEx.ini ${QUILO_STAGE_DIR}/Quilo/)
  endif()
  # Part of ALL: a plain build leaves a complete install for the end-to-end tests.
  add_custom_target(quilo_stage ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILO_STAGE_DIR}/Quilo
    ${copies}
    DEPENDS ${parts}
    VERBATIM)
endfunction()
