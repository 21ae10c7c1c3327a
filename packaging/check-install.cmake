# Installs the build into a staging folder (DESTDIR) and compares the files with the list the
# install rules promise.  -DBUILD_DIR, -DSTAGE, -DWITH_GUI, -DWITH_MAN.
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
    usr/share/metainfo/com.example.dovu.konfig.metainfo.xml
    usr/share/icons/hicolor/scalable/apps/dovu-konfig.svg)
  foreach(size 16 32 48 64 128 256)
    list(APPEND expected usr/share/icons/hicolor/${size}x${size}/apps/dovu-konfig.png)
  endforeach()
endif()
if(WITH_MAN)
  list(APPEND expected usr/share/man/man1/dovu-cli.1.gz usr/share/man/man1/dovu-sim.1.gz)
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
# The command-line tools run from where they were installed.
foreach(tool dovu-cli dovu-sim)
  execute_process(COMMAND "${STAGE}/usr/bin/${tool}" --version RESULT_VARIABLE rc OUTPUT_VARIABLE out)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "^${tool} [0-9]")
    message(FATAL_ERROR "installed ${tool} --version: exit ${rc}, \"${out}\"")
  endif()
endforeach()
message(STATUS "staged install: ${found}")
