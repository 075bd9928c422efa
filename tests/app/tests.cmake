# The flow converts a copied Notes folder built the way the conversion tests build theirs.
if(TARGET test_app_flow_test)
  target_link_libraries(test_app_flow_test PRIVATE nc_test_conversion_support)
endif()

# Installed like a desktop application: the launcher entry validates, and an installation into a
# temporary prefix holds the executable, the entry, the icons, the translations and the help page,
# and the installed executable starts with the installed resources.
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
  add_test(NAME DesktopEntry.Validates
    COMMAND ${DESKTOP_FILE_VALIDATE} ${CMAKE_SOURCE_DIR}/resources/desktop/notecrate.desktop)
endif()
add_test(NAME Install.PutsEverythingWhereDesktopsLook
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/install_check.sh ${CMAKE_BINARY_DIR})

# The stand-in phone of the send test is the multipeer tests' guest, made of the peer tests' helpers.
if(TARGET test_app_send_test)
  target_link_libraries(test_app_send_test PRIVATE nc_test_peer_support)
endif()
