# The end-to-end tests run the zelvane program, so it is built before them.
add_dependencies(test_cli zelvane)
