# Windows programs of the cross build run under Wine: add_test, gtest discovery
# and custom commands go through a launcher made here, which runs
# cmake/wine-run.sh with the build's own prefix (build/windows/wine). Every
# Windows test requires the fixture "wine", whose cleanup ends the run's servers.
set(QUORVEL_WINE_ROOT ${PROJECT_BINARY_DIR}/wine CACHE PATH
  "Folder of the Wine prefix that the Windows tests run in")
set(QUORVEL_WINE_RUN ${PROJECT_BINARY_DIR}/wine-run)
file(CONFIGURE OUTPUT ${QUORVEL_WINE_RUN} @ONLY CONTENT
  "#!/bin/sh\nQUORVEL_WINE_ROOT='@QUORVEL_WINE_ROOT@' exec '@PROJECT_SOURCE_DIR@/cmake/wine-run.sh' \"$@\"\n")
file(CHMOD ${QUORVEL_WINE_RUN} FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
if(CMAKE_CROSSCOMPILING)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORVEL_WINE_RUN})
endif()

# quorvel_wine_test(NAME) marks an add_test test as one that runs under Wine.
function(quorvel_wine_test name)
  set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED wine)
endfunction()
