# dvk_windows_resources(target description [manifest]): the icon, version
# information from the project's version and, when given, the application
# manifest, in a Windows executable's resources. Does nothing elsewhere.
function(dvk_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  set(DVK_RC_NAME ${target})
  set(DVK_RC_DESCRIPTION "${description}")
  set(DVK_RC_ICON "${PROJECT_SOURCE_DIR}/src/ui/resources/Icon/Kestrav.ico")
  set(DVK_RC_MANIFEST "")
  if(ARGC GREATER 2)
    # 1 is the manifest Windows reads when it starts the program (24: RT_MANIFEST).
    set(DVK_RC_MANIFEST "1 24 \"${ARGV2}\"")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
endfunction()
