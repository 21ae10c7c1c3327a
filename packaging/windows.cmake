# Windows: the install tree runs on a machine without Qt, and CPack packs it.
#   cmake --install build/windows --prefix DIR      (the folder alone)
#   cpack -G NSIS  (or -G ZIP), run in build/windows: the installer with Start-menu entry and
#                  uninstaller, or the same tree as a ZIP
# Layout: bin/ holds the programs, Qt's and the compiler's libraries and qt.conf; plugins/ the Qt
# plugins the window loads; translations/ Qt's own Polish texts; licences/ Qt's licence texts.
#
# Qt's deploy script does not run when cross-compiling, so the tree is listed here: the Qt
# libraries the programs link, the plugins Qt loads at run time, and the compiler's runtime.  The
# last install step reads what every program and library in the tree imports (objdump -p) and
# fails when one of those DLLs is neither in the tree nor part of Windows.

# The Qt prefix: where Qt6Core's package files are, three folders up.
get_filename_component(qt_prefix "${Qt6Core_DIR}/../../.." ABSOLUTE)
set(qt_bin ${qt_prefix}/bin)
set(qt_plugins ${qt_prefix}/plugins)
# The compiler's runtime DLLs: beside the Qt prefix when it was built with them (Qt for Windows
# built by the recipe), else where the compiler keeps them.
set(mingw_runtime_dirs ${qt_prefix}/mingw-runtime ${qt_bin})
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll OUTPUT_VARIABLE gcc_stdcxx
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(gcc_dir "${gcc_stdcxx}" DIRECTORY)
  list(APPEND mingw_runtime_dirs ${gcc_dir} /usr/${CMAKE_CXX_COMPILER_TARGET}/lib /usr/x86_64-w64-mingw32/lib)
endif()

set(qt_libraries Core Gui Widgets PrintSupport)
if(TARGET dovu-konfig)
  list(APPEND qt_libraries Charts)
endif()
foreach(lib IN LISTS qt_libraries)
  install(FILES ${qt_bin}/Qt6${lib}.dll DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()
if(MINGW)
  foreach(dll IN ITEMS libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    find_file(DOVU_RUNTIME_${dll} NAMES ${dll} PATHS ${mingw_runtime_dirs} NO_DEFAULT_PATH NO_CACHE
              NO_CMAKE_FIND_ROOT_PATH)
    if(NOT DOVU_RUNTIME_${dll})
      message(FATAL_ERROR "The compiler's runtime ${dll} is not in ${mingw_runtime_dirs}")
    endif()
    install(FILES ${DOVU_RUNTIME_${dll}} DESTINATION ${CMAKE_INSTALL_BINDIR})
  endforeach()
elseif(MSVC)
  set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION ${CMAKE_INSTALL_BINDIR})
  include(InstallRequiredSystemLibraries)
endif()

# Plugins Qt loads by name at run time (nothing imports them): the window system, the native
# style, the About dialog's JPEG and the icon formats.  A missing one fails the configure step.
set(qt_plugin_files platforms/qwindows.dll styles/qwindowsvistastyle.dll imageformats/qjpeg.dll
                    imageformats/qico.dll imageformats/qgif.dll)
foreach(plugin IN LISTS qt_plugin_files)
  if(NOT EXISTS ${qt_plugins}/${plugin})
    message(FATAL_ERROR "Qt for Windows at ${qt_prefix} lacks the plugin ${plugin}")
  endif()
  get_filename_component(kind ${plugin} DIRECTORY)
  install(FILES ${qt_plugins}/${plugin} DESTINATION plugins/${kind})
endforeach()
# Print support's own plugin, where Qt was built with one (the Windows print dialog is in the
# library itself).
file(GLOB print_plugins ${qt_plugins}/printsupport/*.dll)
if(print_plugins)
  install(FILES ${print_plugins} DESTINATION plugins/printsupport)
endif()

file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/qt.conf "[Paths]\nPrefix = ..\nPlugins = plugins\nTranslations = translations\n")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qt.conf DESTINATION ${CMAKE_INSTALL_BINDIR})

# Qt's Polish texts are the same file on every system: Debian's qt6-translations-l10n.
find_file(DOVU_QTBASE_PL qtbase_pl.qm
          PATHS ${qt_prefix}/translations /usr/share/qt6/translations NO_DEFAULT_PATH NO_CACHE
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT DOVU_QTBASE_PL)
  message(FATAL_ERROR "qtbase_pl.qm not found (Debian: apt-get install qt6-translations-l10n; or copy it into "
                      "${qt_prefix}/translations)")
endif()
install(FILES ${DOVU_QTBASE_PL} DESTINATION translations)

# Licences: ours, and Qt's (LGPL 3 with the GPL texts it refers to), since its DLLs ship with us.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
foreach(text IN ITEMS LGPL-3.0-only.txt GPL-3.0-only.txt)
  if(EXISTS ${qt_prefix}/LICENSES/${text})
    install(FILES ${qt_prefix}/LICENSES/${text} DESTINATION licences/Qt)
  else()
    message(FATAL_ERROR "Qt for Windows at ${qt_prefix} lacks LICENSES/${text}")
  endif()
endforeach()

# Every DLL a program, library or plugin of the tree imports is in bin/ or is one of Windows' own.
# (MinGW's objdump; an MSVC build, which has none, installs unchecked.)
find_program(DOVU_OBJDUMP NAMES ${CMAKE_OBJDUMP} x86_64-w64-mingw32-objdump objdump llvm-objdump)
if(DOVU_OBJDUMP)
  install(CODE "set(DOVU_OBJDUMP \"${DOVU_OBJDUMP}\")")
  install(SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/windows/check-imports.cmake)
elseif(MINGW)
  message(FATAL_ERROR "objdump is needed to check the DLLs of the install tree")
else()
  message(STATUS "No objdump: the install tree's imports are not checked")
endif()

set(CPACK_PACKAGE_NAME dovu-konfigurator)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR DOVU)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configuration program for the DOVU GSM alarm controller")
set(CPACK_PACKAGE_HOMEPAGE_URL ${DOVU_HOMEPAGE})
set(CPACK_PACKAGE_INSTALL_DIRECTORY "DOVU Konfigurator")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "DOVU Konfigurator")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_FILE_NAME dovu-konfigurator-${PROJECT_VERSION}-win64)
# The Start-menu shortcut (NSIS looks for it in bin/).
set(CPACK_PACKAGE_EXECUTABLES dovu-konfig "DOVU Konfigurator")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ${CMAKE_INSTALL_BINDIR})
set(CPACK_NSIS_DISPLAY_NAME "DOVU Konfigurator ${PROJECT_VERSION}")
set(CPACK_NSIS_PACKAGE_NAME "DOVU Konfigurator")
set(CPACK_NSIS_INSTALLED_ICON_NAME ${CMAKE_INSTALL_BINDIR}/dovu-konfig.exe)
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/packaging/windows/dovu-konfig.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/packaging/windows/dovu-konfig.ico)
set(CPACK_NSIS_URL_INFO_ABOUT ${DOVU_HOMEPAGE})
set(CPACK_NSIS_CONTACT ${DOVU_CONTACT})
# A 64-bit installer (Debian's makensis makes a 32-bit one by default, which wine64 starts and
# leaves at once, and whose registry and program folder would be the 32-bit views).  It asks for
# the highest rights the user has (this overrides the template's "admin", which stands before it):
# an administrator installs into the 64-bit program folder for all users, anyone else for
# themselves alone (the template's per-user folder, Start menu and uninstall entry), without a
# prompt for a password they do not have.
set(CPACK_NSIS_DEFINES "Target amd64-unicode\nRequestExecutionLevel highest")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# The installer registers its uninstaller with Windows ("Apps", with the version) and puts it in
# the Start menu folder beside the program; a new version first removes the old one.
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_GENERATOR NSIS ZIP)
include(CPack)
