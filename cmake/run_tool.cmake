# viduzo-run, the Linux tool that runs viduzo's actions against any package in
# winsim (tools/run), and its checks. libmsi (Debian's libmsi-dev) reads .msi
# files; scripts/setup installs it.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBMSI REQUIRED IMPORTED_TARGET libmsi-1.0)

file(GLOB VIDUZO_RUN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/run/*.cpp)
add_executable(viduzo-run ${VIDUZO_RUN_SOURCES})
target_compile_options(viduzo-run PRIVATE ${VIDUZO_WARNINGS})
target_link_libraries(viduzo-run PRIVATE viduzo_code winsim PkgConfig::LIBMSI)

# The sample packages, built with wixl and msibuild as for Windows, around a
# stand-in file for viduzo.dll: viduzo-run gives the Binary rows that the
# package's DLL actions name this build's actions anyway.
find_program(VIDUZO_RUN_WIXL wixl)
find_program(VIDUZO_RUN_MSIBUILD msibuild)
find_program(VIDUZO_RUN_MSIDUMP msidump)
find_package(Python3 COMPONENTS Interpreter QUIET)
if(VIDUZO_TESTS AND VIDUZO_RUN_WIXL AND VIDUZO_RUN_MSIBUILD AND VIDUZO_RUN_MSIDUMP
   AND Python3_Interpreter_FOUND)
  set(VIDUZO_RUN_PACKAGES ${CMAKE_BINARY_DIR}/packages)
  set(VIDUZO_RUN_STANDIN ${CMAKE_BINARY_DIR}/viduzo-standin.dll)
  file(WRITE ${VIDUZO_RUN_STANDIN} "stand-in for viduzo.dll: viduzo-run runs this build's actions\n")
  file(GLOB VIDUZO_RUN_PACKAGE_SOURCES CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/packages/qvaclient/*
       ${CMAKE_SOURCE_DIR}/packages/qvaclient/payload/*
       ${CMAKE_SOURCE_DIR}/packages/qvaclient/tables/*)
  set(VIDUZO_RUN_MSIS "")
  foreach(type MSIHL MSI_HLA MSI_ALL)
    list(APPEND VIDUZO_RUN_MSIS ${VIDUZO_RUN_PACKAGES}/qvaclient-${type}.msi)
  endforeach()
  add_custom_command(
    OUTPUT ${VIDUZO_RUN_MSIS}
    COMMAND ${CMAKE_SOURCE_DIR}/packages/qvaclient/build ${VIDUZO_RUN_PACKAGES} ${VIDUZO_RUN_STANDIN}
    DEPENDS ${VIDUZO_RUN_PACKAGE_SOURCES}
    COMMENT "Building the sample QVA Client packages for viduzo-run"
    VERBATIM)
  add_custom_target(run_tool_packages ALL DEPENDS ${VIDUZO_RUN_MSIS})

  # The tool's checks, at its boundary: what it prints and its exit code.
  foreach(check loaders system_state errors all_actions sequence)
    add_test(NAME runtool.${check}
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/tools/run_tool.py ${check}
                     --tool $<TARGET_FILE:viduzo-run> --packages ${VIDUZO_RUN_PACKAGES}
                     --work ${CMAKE_BINARY_DIR}/run-tool-checks/${check})
  endforeach()
endif()
