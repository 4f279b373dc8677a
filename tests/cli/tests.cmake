# The zelvane tests run the built program.
if(TARGET test_cli)
  add_dependencies(test_cli zelvane)
endif()
