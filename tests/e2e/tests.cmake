# The end-to-end tests run the built programs, so they are built first.
if(TARGET test_e2e)
  add_dependencies(test_e2e zelvane)
  if(TARGET SSDZelvane)
    add_dependencies(test_e2e SSDZelvane)
  endif()
endif()
