# The zelvane tests run the built program.
if(TARGET test_cli)
  add_dependencies(test_cli zelvane)
endif()
# The firmware and check-update commands talk to our update server program.
if(TARGET test_cli AND TARGET zelvane-update-server)
  add_dependencies(test_cli zelvane-update-server)
endif()
