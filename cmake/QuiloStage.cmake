# The staged install of a Windows build, in ${QUILO_STAGE_DIR} (stage/<preset>/):
#   plugins.ini, TestHost.exe, TraceViewer.exe,
#   Quilo/QuiloPlugin.exe, Quilo/OrvaneEx.dll + OrvaneEx.ini, Quilo/*.lan, Quilo/Test.tif
# The programs of other folders stage themselves after they are built; the target
# `quilo_stage` builds everything the install needs.

set(QUILO_STAGE_DATA ${CMAKE_SOURCE_DIR}/src/app/stage)

function(quilo_stage_plugin target)
  file(GLOB languages ${CMAKE_SOURCE_DIR}/lang/*.lan)
  set(copy_languages)
  foreach(f ${languages})
    list(APPEND copy_languages COMMAND ${CMAKE_COMMAND} -E copy_if_different ${f} ${QUILO_STAGE_DIR}/Quilo/)
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILO_STAGE_DIR}/Quilo
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${QUILO_STAGE_DIR}/Quilo/
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QUILO_STAGE_DATA}/plugins.ini ${QUILO_STAGE_DIR}/
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QUILO_STAGE_DATA}/Test.tif ${QUILO_STAGE_DIR}/Quilo/
    ${copy_languages}
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
  # Part of ALL: a plain build leaves a complete install for the end-to-end tests.
  add_custom_target(quilo_stage ALL DEPENDS ${parts})
endfunction()
