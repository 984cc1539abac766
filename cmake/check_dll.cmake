cmake_policy(SET CMP0057 NEW)
# Checks a built viduzo.dll: it exports exactly the listed actions (ACTIONS,
# the list the build made the DLL from) and exactly the complete list of the
# actions packages call (COMPLETE, one name a line, "#" lines are comments), by
# undecorated name, and imports nothing but Windows system DLLs.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

file(READ ${ACTIONS} wanted)
string(STRIP "${wanted}" wanted)
string(REPLACE " " ";" wanted "${wanted}")
list(SORT wanted)

# Export name table lines look like "\t[   0] HideCancelButton" (a decorated x86
# name would keep its "@4").
string(REGEX MATCH "\n\\[Ordinal/Name Pointer\\] Table\n.*" table "${dump}")
string(SUBSTRING "${table}" 1 -1 table)
string(FIND "${table}" "\n\n" end)
string(SUBSTRING "${table}" 0 ${end} table)
string(REGEX MATCHALL "\\[ *[0-9]+\\] [A-Za-z_][A-Za-z0-9_@]*\n" rows "${table}\n")
set(exported "")
foreach(row IN LISTS rows)
  string(REGEX REPLACE "\\[ *[0-9]+\\] " "" name "${row}")
  string(STRIP "${name}" name)
  list(APPEND exported "${name}")
endforeach()
list(SORT exported)
if(NOT exported STREQUAL wanted)
  message(FATAL_ERROR "exports differ\n wanted: ${wanted}\n found:  ${exported}")
endif()
file(STRINGS ${COMPLETE} complete REGEX "^[A-Za-z_]")
list(SORT complete)
if(NOT exported STREQUAL complete)
  set(missing ${complete})
  list(REMOVE_ITEM missing ${exported})
  set(extra ${exported})
  list(REMOVE_ITEM extra ${complete})
  message(FATAL_ERROR "exports are not the complete list of actions\n missing: ${missing}\n not in the list: ${extra}")
endif()

# Imports: "\tDLL Name: KERNEL32.dll".
set(system_dlls advapi32.dll kernel32.dll msi.dll ole32.dll oleaut32.dll shell32.dll
    user32.dll version.dll msvcrt.dll ntdll.dll gdi32.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(line IN LISTS imports)
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST system_dlls)
    message(FATAL_ERROR "imports a DLL that is not part of Windows: ${dll}")
  endif()
endforeach()
list(LENGTH exported n)
message(STATUS "${DLL}: ${n} undecorated exports, system imports only")
