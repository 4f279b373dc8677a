# Some Linux backend tests run the built programs on this machine itself.
if(TARGET test_linux)
  add_dependencies(test_linux zelvane)
  if(TARGET SSDZelvane)
    add_dependencies(test_linux SSDZelvane)
  endif()
endif()
