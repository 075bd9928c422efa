# The command-line tests run the built executable, and expect the project's version from it.
if(TARGET test_conversion_command_test)
  add_dependencies(test_conversion_command_test notecrate)
  target_compile_definitions(test_conversion_command_test PRIVATE NOTECRATE_VERSION="${PROJECT_VERSION}")
endif()
