# The rig: a QEMU guest with emulated SATA and NVMe drives, booted once by
# one CTest test that runs the system's programs and the oracles (smartctl,
# nvme) inside and compares their answers on the host. Enabled when QEMU and
# a kernel image are installed (scripts/setup.sh --rig).
set(ZEL_RIG_DIR ${CMAKE_CURRENT_LIST_DIR})

if(TARGET zel_linux)
  add_executable(zel_rig_probe ${ZEL_RIG_DIR}/probe/rig_probe.cpp ${ZEL_RIG_DIR}/probe/system_probe.cpp)
  target_link_libraries(zel_rig_probe PRIVATE zel_report zel_linux nlohmann_json::nlohmann_json)

  file(GLOB _rig_compare CONFIGURE_DEPENDS ${ZEL_RIG_DIR}/compare/*.cpp)
  add_executable(rig_compare ${_rig_compare})
  target_link_libraries(rig_compare PRIVATE nlohmann_json::nlohmann_json GTest::gtest)

  find_program(ZEL_QEMU qemu-system-x86_64)
  file(GLOB _kernels /boot/vmlinuz-*)
  if(ZEL_QEMU AND _kernels AND EXISTS /usr/sbin/smartctl AND EXISTS /usr/sbin/nvme)
    add_test(NAME rig.guest_matches_oracles
             COMMAND bash ${ZEL_RIG_DIR}/run-rig-test.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(rig.guest_matches_oracles PROPERTIES TIMEOUT 240 RUN_SERIAL TRUE)
  else()
    message(STATUS "rig: QEMU, a kernel image, smartctl or nvme missing; the rig test is not run")
  endif()
endif()
