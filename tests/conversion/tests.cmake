# The command-line tests run the built executable.
if(TARGET test_conversion_vesper_command_test)
  add_dependencies(test_conversion_vesper_command_test notecrate)
endif()
if(TARGET test_conversion_notes_attachments_command_test)
  add_dependencies(test_conversion_notes_attachments_command_test notecrate)
endif()
