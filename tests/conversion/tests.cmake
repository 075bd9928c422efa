# The command-line tests run the built executable.
if(TARGET test_conversion_command_test)
  add_dependencies(test_conversion_command_test notecrate)
endif()
