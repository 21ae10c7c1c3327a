# Windows: the install tree runs on a machine without Qt, and CPack packs it.
#   cmake --install build --prefix dist        (the folder alone)
#   cpack --config build/CPackConfig.cmake -G ZIP    (or -G NSIS: installer with Start-menu entry
#                                                     and uninstaller)
# Layout: bin/ holds the programs, Qt's and the compiler's libraries and qt.conf; plugins/ Qt's
# platform and style plugins; translations/ Qt's own texts (qt_pl.qm among them).

# At install time windeployqt copies into the install tree what dovu-konfig needs of Qt (dovu-cli
# needs a subset of it) and writes bin/qt.conf, which points Qt at plugins/ and translations/.
if(Qt6_VERSION VERSION_GREATER_EQUAL 6.5)
  qt_generate_deploy_app_script(TARGET dovu-konfig OUTPUT_SCRIPT deploy_script)
else()
  qt_generate_deploy_app_script(TARGET dovu-konfig FILENAME_VARIABLE deploy_script)
endif()
install(SCRIPT ${deploy_script})
# A tree without these would start nowhere but on the build machine, or speak English.
install(CODE [[
  set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  foreach(pattern IN ITEMS bin/Qt6Core*.dll bin/Qt6Widgets*.dll bin/qt.conf plugins/platforms/qwindows*.dll
                           plugins/styles/*.dll translations/qt_pl.qm)
    file(GLOB found "${root}/${pattern}")
    if(NOT found)
      message(FATAL_ERROR "The deployed tree lacks ${pattern}: see the windeployqt output above")
    endif()
  endforeach()
]])

# The JPEG decoder of the About dialog, when it is a DLL (vcpkg's libjpeg-turbo is).
find_file(DOVU_TURBOJPEG_DLL NAMES turbojpeg.dll HINTS ${TURBOJPEG_PREFIX}/bin ${TURBOJPEG_LIBDIR}/../bin
          NO_CACHE)
if(DOVU_TURBOJPEG_DLL)
  install(FILES ${DOVU_TURBOJPEG_DLL} DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# MSVC's runtime; MinGW's is copied by windeployqt.
if(MSVC)
  set(CMAKE_INSTALL_SYSTEM_RUNTIME_DESTINATION ${CMAKE_INSTALL_BINDIR})
  include(InstallRequiredSystemLibraries)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

set(CPACK_PACKAGE_NAME dovu-konfigurator)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR DOVU)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configuration program for the DOVU GSM alarm controller")
set(CPACK_PACKAGE_HOMEPAGE_URL ${DOVU_HOMEPAGE})
set(CPACK_PACKAGE_INSTALL_DIRECTORY "DOVU Konfigurator")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# The Start-menu shortcut (NSIS looks for it in bin/).
set(CPACK_PACKAGE_EXECUTABLES dovu-konfig "DOVU Konfigurator")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ${CMAKE_INSTALL_BINDIR})
set(CPACK_NSIS_DISPLAY_NAME "DOVU Konfigurator ${PROJECT_VERSION}")
set(CPACK_NSIS_PACKAGE_NAME "DOVU Konfigurator")
set(CPACK_NSIS_INSTALLED_ICON_NAME ${CMAKE_INSTALL_BINDIR}/dovu-konfig.exe)
set(CPACK_NSIS_URL_INFO_ABOUT ${DOVU_HOMEPAGE})
set(CPACK_NSIS_CONTACT ${DOVU_CONTACT})
# The installer registers its uninstaller with Windows ("Apps") and puts it in the Start menu
# folder beside the program; a new version first removes the old one.
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_GENERATOR ZIP)
include(CPack)
