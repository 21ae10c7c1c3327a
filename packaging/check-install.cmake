# Installs the build into a staging folder (DESTDIR) and compares the files with the list the
# install rules promise; then runs the installed programs.  -DBUILD_DIR, -DSTAGE, -DWITH_GUI,
# -DWITH_MAN, -DAPP_ID, -DVERSION.
file(REMOVE_RECURSE "${STAGE}")
set(ENV{DESTDIR} "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix /usr
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

set(expected
  usr/bin/dovu-cli
  usr/bin/dovu-sim
  usr/share/bash-completion/completions/dovu-cli)
if(WITH_GUI)
  list(APPEND expected
    usr/bin/dovu-konfig
    usr/share/applications/dovu-konfig.desktop
    usr/share/metainfo/${APP_ID}.metainfo.xml
    usr/share/icons/hicolor/scalable/apps/dovu-konfig.svg)
  foreach(size 16 32 48 64 128 256)
    list(APPEND expected usr/share/icons/hicolor/${size}x${size}/apps/dovu-konfig.png)
  endforeach()
endif()
if(WITH_MAN)
  list(APPEND expected usr/share/man/man1/dovu-cli.1.gz usr/share/man/man1/dovu-sim.1.gz)
  if(WITH_GUI)
    list(APPEND expected usr/share/man/man1/dovu-konfig.1.gz)
  endif()
endif()

file(GLOB_RECURSE found RELATIVE "${STAGE}" "${STAGE}/*")
list(SORT expected)
list(SORT found)
if(NOT found STREQUAL expected)
  set(missing ${expected})
  list(REMOVE_ITEM missing ${found})
  set(extra ${found})
  list(REMOVE_ITEM extra ${expected})
  message(FATAL_ERROR "staged install differs\n  missing: ${missing}\n  not expected: ${extra}")
endif()
# Runs an installed program with the environment settings given before "--"; fails unless it
# exits with the status given and its output matches.  -E env: Qt aborts without a display.
function(expect_run status pattern)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "ENV;RUN")
  list(POP_FRONT arg_RUN program)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env ${arg_ENV} "${STAGE}/usr/bin/${program}" ${arg_RUN}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
  if(NOT rc STREQUAL status OR NOT "${out}${err}" MATCHES "${pattern}")
    message(FATAL_ERROR "installed ${program} ${arg_RUN}: exit ${rc}, \"${out}\" \"${err}\"")
  endif()
endfunction()
set(no_display --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM)
# Every program tells its version from where it was installed; the window does so, and prints
# its help, without a display.
set(programs dovu-cli dovu-sim)
if(WITH_GUI)
  list(APPEND programs dovu-konfig)
endif()
foreach(program IN LISTS programs)
  string(REPLACE "." "[.]" version "${VERSION}")
  expect_run(0 "^${program} ${version}\n$" ENV ${no_display} RUN ${program} --version)
endforeach()
if(WITH_GUI)
  expect_run(0 "^Usage: dovu-konfig \\[options\\]\n.*--version" ENV ${no_display} RUN dovu-konfig --help)
  # Anything else is refused with a message (on a display: here the offscreen one) instead of
  # being ignored.
  expect_run(2 "unknown option 'bogus'" ENV QT_QPA_PLATFORM=offscreen RUN dovu-konfig --bogus)
endif()
message(STATUS "staged install: ${found}")
