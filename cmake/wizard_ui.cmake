# The sample package's wizard in a real installer UI: Wine's msiexec shows the
# dialogs of packages/qvaclient/ui on an Xvfb display, tests/package/
# check_wizard.py walks them with xdotool and reads them back with vdzdialogs
# (tests/programs/dialog_text.cpp, the text of the dialogs' controls and list
# items). The ctest entries carry the label "ui"; scripts/demo --wizard uses
# the same walk.
add_executable(vdzdialogs tests/programs/dialog_text.cpp)
target_compile_options(vdzdialogs PRIVATE ${VIDUZO_WARNINGS})
target_link_libraries(vdzdialogs PRIVATE user32)
target_link_options(vdzdialogs PRIVATE -static -static-libgcc -static-libstdc++)
set_target_properties(vdzdialogs PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

find_program(VIDUZO_XVFB Xvfb)
find_program(VIDUZO_XDOTOOL xdotool)
find_program(VIDUZO_IMPORT import)
if(VIDUZO_PACKAGES AND VIDUZO_XVFB AND VIDUZO_XDOTOOL AND VIDUZO_IMPORT)
  add_dependencies(qvaclient_packages vdzdialogs)
  set(VIDUZO_WIZARD_WORK ${CMAKE_BINARY_DIR}/wizard-checks)
  # Every page shown, in any letter case of "yes"; then only the client name
  # and the summary, the pages between them passed on by SearchNewDialog.
  foreach(run IN ITEMS all:yES short:ClientName,Summary)
    string(REPLACE ":" ";" parts ${run})
    list(GET parts 0 name)
    list(GET parts 1 enable)
    add_test(NAME ui.wizard_${name}
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/package/check_wizard.py
                     --msi ${VIDUZO_PACKAGE_DIR}/qvaclient-MSI_ALL.msi
                     --dialogs $<TARGET_FILE:vdzdialogs>
                     --work ${VIDUZO_WIZARD_WORK}/${name}
                     --template ${VIDUZO_PACKAGE_WORK}/wineprefix-template
                     ENABLE_DIALOGS=${enable})
    set_tests_properties(ui.wizard_${name} PROPERTIES LABELS ui TIMEOUT 400
                         FIXTURES_REQUIRED viduzo_package_prefix)
  endforeach()
endif()
