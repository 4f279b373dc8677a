# The include check on the tree itself, and on fake trees that prove it fails
# on a wrong arrow.
add_test(NAME layers.includes_follow_the_rules
         COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_SOURCE_DIR} -P ${CMAKE_SOURCE_DIR}/cmake/check_includes.cmake)
add_test(NAME layers.check_fails_on_wrong_arrows
         COMMAND ${CMAKE_COMMAND} -DCHECK=${CMAKE_SOURCE_DIR}/cmake/check_includes.cmake
                 -DWORK=${CMAKE_CURRENT_BINARY_DIR}/layers_check -P ${CMAKE_CURRENT_LIST_DIR}/check_includes_test.cmake)
