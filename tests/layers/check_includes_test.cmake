# Proves the include check on tiny fake trees: a tree that keeps the layers
# passes, and each kind of wrong arrow fails with a line that names it.
# Run as cmake -DCHECK=<check_includes.cmake> -DWORK=<scratch folder> -P ...
cmake_minimum_required(VERSION 3.25)

set(_rules [=[
platform: (nothing)
platform/sim: platform
log: platform
device: log platform
health: device log platform
app/launch: platform platform/sim
]=])

# Each case: a name, the files of the tree as "path=include,include;...", the
# rule table, and the text the check must print (empty: it must pass).
function(run_case name files rules expected)
  set(root ${WORK}/${name})
  file(REMOVE_RECURSE ${root})
  foreach(entry IN LISTS files)
    string(REPLACE "=" ";" parts "${entry}")
    list(GET parts 0 path)
    set(text "// ${path}\n")
    list(LENGTH parts n)
    if(n GREATER 1)
      list(GET parts 1 includes)
      string(REPLACE "," ";" includes "${includes}")
      foreach(inc IN LISTS includes)
        string(APPEND text "#include \"${inc}\"\n")
      endforeach()
    endif()
    file(WRITE ${root}/${path} "${text}")
  endforeach()
  file(WRITE ${root}/rules.txt "${rules}")
  execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${root} -DRULES=${root}/rules.txt -P ${CHECK}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(all "${out}${err}")
  if(expected STREQUAL "")
    if(NOT result EQUAL 0)
      message(SEND_ERROR "${name}: a tree that keeps the layers failed the check:\n${all}")
    endif()
  else()
    if(result EQUAL 0)
      message(SEND_ERROR "${name}: the check passed a wrong arrow")
    endif()
    string(FIND "${all}" "${expected}" at)
    if(at EQUAL -1)
      message(SEND_ERROR "${name}: expected \"${expected}\" in:\n${all}")
    endif()
  endif()
endfunction()

set(_good
  "platform/bytes.h"
  "platform/sim/machine.cpp=platform/bytes.h,platform/sim/machine.h"
  "platform/sim/machine.h"
  "log/log.cpp=log/log.h,platform/bytes.h"
  "log/log.h"
  "device/ata.cpp=log/log.h,platform/bytes.h,local.h"
  "health/smart.cpp=device/ata.h,log/log.h"
  "device/ata.h"
  "app/launch/choice.cpp=platform/sim/machine.h"
  "tests/device/ata_test.cpp=app/launch/choice.h,health/smart.h")

run_case(layers_kept "${_good}" "${_rules}" "")

run_case(upward_arrow "${_good};device/discovery.cpp=health/smart.h" "${_rules}"
         "device/discovery.cpp: includes health/smart.h (device -> health is not allowed)")

run_case(backend_includes_logic "${_good};platform/sim/drive.cpp=device/ata.h" "${_rules}"
         "platform/sim/drive.cpp: includes device/ata.h (platform/sim -> device is not allowed)")

run_case(logic_names_backend "${_good};health/probe.cpp=platform/sim/machine.h" "${_rules}"
         "health/probe.cpp: includes platform/sim/machine.h (health -> platform/sim is not allowed)")

run_case(folder_without_rule "${_good};optimize/trim.cpp=device/ata.h" "${_rules}"
         "optimize/trim.cpp: its folder optimize has no rule in the rule table")

run_case(header_outside_the_table "${_good};device/x.cpp=support/sim_fixture.h" "${_rules}"
         "device/x.cpp: includes support/sim_fixture.h, which is in no folder of the rule table")

run_case(rules_with_a_cycle "${_good}" "${_rules}log: platform device\n"
         "the rules form a cycle among")

run_case(exception_allows_one_arrow
         "${_good};platform/sim/drive.cpp=device/ata.h"
         "${_rules}except platform/sim/drive.cpp -> device/ata.h\n" "")

run_case(exception_is_for_that_source_only
         "${_good};platform/sim/drive.cpp=device/ata.h;platform/sim/other.cpp=device/ata.h"
         "${_rules}except platform/sim/drive.cpp -> device/ata.h\n"
         "platform/sim/other.cpp: includes device/ata.h (platform/sim -> device is not allowed)")

run_case(stale_exception "${_good}"
         "${_rules}except platform/sim/drive.cpp -> device/ata.h\n"
         "the exception platform/sim/drive.cpp -> device/ata.h is no longer needed")

# A build folder inside the tree (by its CMakeCache.txt) holds generated
# sources; they are not checked.
run_case(build_folder_is_skipped
         "${_good};out/CMakeCache.txt;out/generated/demo.cpp=platform/sim/machine.h" "${_rules}" "")
