# Installing and packaging.
#   cmake --install build [--prefix DIR]   the panel and the stand-in in DIR/bin
#   cmake --build build --target package   build/vedrik_<version>_<arch>.deb
# The package's dependencies are found by dpkg-shlibdeps from the libraries
# the two programs link. The panel keeps imgui.ini in its working directory,
# so the package has no desktop entry: started from a menu, it would write
# that file wherever the menu starts it.
include(GNUInstallDirs)
install(TARGETS vedrik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET qz3-standin)
  install(TARGETS qz3-standin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vedrik)
set(CPACK_PACKAGE_VERSION 0.1.0)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel for the QZ3_MK processor simulator, with a stand-in simulator")
set(CPACK_PACKAGE_CONTACT "Vedrik developers <vedrik@localhost>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# SDL loads the OpenGL library when it makes the GL context, which no link
# shows dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libgl1)
include(CPack)

# The package's end-to-end test packs this build tree.
if(TARGET package_test)
  target_compile_definitions(package_test PRIVATE VEDRIK_CPACK_CONFIG="${CMAKE_BINARY_DIR}/CPackConfig.cmake")
  add_dependencies(package_test vedrik)
  if(TARGET qz3-standin)
    add_dependencies(package_test qz3-standin)
  endif()
endif()
