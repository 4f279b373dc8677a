# Some Linux backend tests run the built programs on this machine itself.
if(TARGET test_linux)
  add_dependencies(test_linux zelvane)
  if(TARGET SSDZelvane)
    add_dependencies(test_linux SSDZelvane)
  endif()
endif()
# The systemd tests install the packaged unit file into a temporary root.
if(TARGET test_linux)
  target_compile_definitions(test_linux PRIVATE ZEL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
