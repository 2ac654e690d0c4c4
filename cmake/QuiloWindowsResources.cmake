# quilo_windows_resources(<target> [DESCRIPTION <text>] [NAME <internal name>])
#   Gives a Windows executable or DLL of ours its resources: the manifest for common controls 6
#   and DPI awareness, and a version record with ProductName "Quilo Plugin". The internal name
#   (the program's title in its version record) defaults to the output name. Nothing happens on
#   non-Windows builds, so callers need no condition of their own.
#   windres is called directly: the RC language need not be enabled in every directory.
function(quilo_windows_resources target)
  if(NOT QUILO_WINDOWS)
    return()
  endif()
  set(QUILO_WIN32_RESOURCE_DIR ${CMAKE_SOURCE_DIR}/src/platform/win32/resources)
  cmake_parse_arguments(R "" "DESCRIPTION;NAME" "" ${ARGN})
  get_target_property(type ${target} TYPE)
  get_target_property(output ${target} OUTPUT_NAME)
  if(NOT output)
    set(output ${target})
  endif()
  set(QUILO_RC_NAME ${output})
  if(R_NAME)
    set(QUILO_RC_NAME ${R_NAME})
  endif()
  set(QUILO_RC_DESCRIPTION "Quilo Plugin")
  if(R_DESCRIPTION)
    set(QUILO_RC_DESCRIPTION "${R_DESCRIPTION}")
  endif()
  if(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
    set(QUILO_RC_FILETYPE VFT_DLL)
    set(QUILO_RC_MANIFEST_ID 2)  # ISOLATIONAWARE_MANIFEST_RESOURCE_ID
    set(QUILO_RC_FILENAME "${output}.dll")
  else()
    set(QUILO_RC_FILETYPE VFT_APP)
    set(QUILO_RC_MANIFEST_ID 1)  # CREATEPROCESS_MANIFEST_RESOURCE_ID
    set(QUILO_RC_FILENAME "${output}.exe")
  endif()
  set(QUILO_RC_MANIFEST ${QUILO_WIN32_RESOURCE_DIR}/quilo.manifest)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc)
  set(obj ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.o)
  configure_file(${QUILO_WIN32_RESOURCE_DIR}/quilo.rc.in ${rc} @ONLY)
  add_custom_command(OUTPUT ${obj}
    COMMAND ${CMAKE_RC_COMPILER} -O coff -I ${QUILO_WIN32_RESOURCE_DIR} -i ${rc} -o ${obj}
    DEPENDS ${rc} ${QUILO_RC_MANIFEST}
    COMMENT "Resources of ${target}"
    VERBATIM)
  set_source_files_properties(${obj} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  target_sources(${target} PRIVATE ${obj})
endfunction()
