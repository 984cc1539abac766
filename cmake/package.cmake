# Above unit level, a real package: the sample Velmar QVA Client packages
# (packages/qvaclient, one per package type) are built around this build's
# viduzo.dll with wixl and msibuild, then installed and removed under Wine by
# tests/package/check_package.py. Only for the x64 build, and only where the
# tools are found; the ctest entries carry the label "package".
find_program(VIDUZO_WIXL wixl)
find_program(VIDUZO_MSIBUILD msibuild)
find_program(VIDUZO_WINE wine)
find_package(Python3 COMPONENTS Interpreter QUIET)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64" AND VIDUZO_TESTS AND VIDUZO_WIXL
   AND VIDUZO_MSIBUILD AND VIDUZO_WINE AND Python3_Interpreter_FOUND)
  set(VIDUZO_PACKAGE_TYPES MSIHL MSI_HLA MSI_ALL)
  set(VIDUZO_PACKAGE_DIR ${CMAKE_BINARY_DIR}/packages)
  set(VIDUZO_PACKAGE_WORK ${CMAKE_BINARY_DIR}/package-checks)
  file(GLOB VIDUZO_PACKAGE_SOURCES CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/packages/qvaclient/*
       ${CMAKE_SOURCE_DIR}/packages/qvaclient/payload/*
       ${CMAKE_SOURCE_DIR}/packages/qvaclient/tables/*)
  # The setup wizard's tables.
  file(GLOB VIDUZO_WIZARD_TABLES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/packages/qvaclient/ui/*)
  list(APPEND VIDUZO_PACKAGE_SOURCES ${VIDUZO_WIZARD_TABLES})

  set(VIDUZO_PACKAGES "")
  foreach(type IN LISTS VIDUZO_PACKAGE_TYPES)
    list(APPEND VIDUZO_PACKAGES ${VIDUZO_PACKAGE_DIR}/qvaclient-${type}.msi)
  endforeach()
  add_custom_command(
    OUTPUT ${VIDUZO_PACKAGES}
    COMMAND ${CMAKE_SOURCE_DIR}/packages/qvaclient/build ${VIDUZO_PACKAGE_DIR} $<TARGET_FILE:viduzo>
    DEPENDS viduzo ${VIDUZO_PACKAGE_SOURCES}
    COMMENT "Building the sample QVA Client packages"
    VERBATIM)
  add_custom_target(qvaclient_packages ALL DEPENDS ${VIDUZO_PACKAGES})

  # One booted Wine prefix, copied by each package type's check.
  add_test(NAME package.prefix
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/package/check_package.py
                   --boot ${VIDUZO_PACKAGE_WORK}/wineprefix-template)
  set_tests_properties(package.prefix PROPERTIES LABELS package TIMEOUT 400
                       FIXTURES_SETUP viduzo_package_prefix)
  foreach(type IN LISTS VIDUZO_PACKAGE_TYPES)
    add_test(NAME package.${type}
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/package/check_package.py
                     --type ${type} --msi ${VIDUZO_PACKAGE_DIR}/qvaclient-${type}.msi
                     --work ${VIDUZO_PACKAGE_WORK}/${type}
                     --template ${VIDUZO_PACKAGE_WORK}/wineprefix-template)
    set_tests_properties(package.${type} PROPERTIES LABELS package TIMEOUT 400
                         FIXTURES_REQUIRED viduzo_package_prefix)
  endforeach()
endif()
