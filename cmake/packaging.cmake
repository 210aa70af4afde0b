# Installing and packaging.
#   cmake --install build [--prefix DIR]   the panel and the stand-in in DIR/bin;
#       the README (with its screenshot), the copyright file and the example
#       simulator's source in DIR/share/doc/vedrik
#   cmake --build build --target package   build/vedrik_<version>_<arch>.deb
# The package's dependencies are found by dpkg-shlibdeps from the libraries
# the two programs link. The panel keeps imgui.ini in its working directory,
# so the package has no desktop entry: started from a menu, it would write
# that file wherever the menu starts it.
#
# On Windows (cmake/windows/mingw-w64.cmake) the package is a zip instead,
#   cpack -G ZIP     build-windows/vedrik-<version>-win64.zip
# one folder with the two programs, SDL2.dll (stripped), run-demo.bat and a
# short README.
set(CPACK_PACKAGE_NAME vedrik)
# The version is the project's (project() in the top CMakeLists.txt).
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS vedrik qz3-standin RUNTIME DESTINATION .)
  install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/SDL2.dll DESTINATION .)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/windows/run-demo.bat ${CMAKE_CURRENT_LIST_DIR}/windows/README.txt
    DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME vedrik-${CPACK_PACKAGE_VERSION}-win64)
  include(CPack)
  return()
endif()

include(GNUInstallDirs)
install(TARGETS vedrik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET qz3-standin)
  install(TARGETS qz3-standin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/panel.png DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES ${PROJECT_SOURCE_DIR}/examples/minimal_simulator.cpp DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for the QZ3_MK processor simulator, with a stand-in simulator")
set(CPACK_PACKAGE_CONTACT "Vedrik developers <vedrik@localhost>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# SDL loads the OpenGL library when it makes the GL context, which no link
# shows dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libgl1)
include(CPack)

# The package's end-to-end test packs this build tree.
if(TARGET package_test)
  target_compile_definitions(package_test PRIVATE VEDRIK_CPACK_CONFIG="${CMAKE_BINARY_DIR}/CPackConfig.cmake"
    VEDRIK_BUILD_DIR="${CMAKE_BINARY_DIR}" VEDRIK_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(package_test vedrik)
  if(TARGET qz3-standin)
    add_dependencies(package_test qz3-standin)
  endif()
endif()
