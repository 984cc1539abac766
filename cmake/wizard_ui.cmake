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
