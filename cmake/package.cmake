# package.cmake -- what `cpack` makes of sfxmake: a Debian package in the host
# tree, a zip of sfxmake.exe in the win64 tree. Both stubs are inside the binary
# already, so the binary and its README are all a package holds. Only the
# component "sfxmake" is packed: the trees also build test frameworks whose own
# install rules must not end up in a release.
set(SFX_VERSION "1.0.0" CACHE STRING "the version the packages carry")

if(WIN32)
  install(TARGETS sfxmake RUNTIME DESTINATION . COMPONENT sfxmake)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION . COMPONENT sfxmake)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME sfxmake-${SFX_VERSION}-win64)
else()
  install(TARGETS sfxmake RUNTIME DESTINATION bin COMPONENT sfxmake)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/sfxmake COMPONENT sfxmake)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  # The libraries the binary links (libc, libstdc++, zlib), found by dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_PACKAGE_NAME sfxmake)
set(CPACK_PACKAGE_VERSION ${SFX_VERSION})
set(CPACK_PACKAGE_VENDOR sfxkit)
set(CPACK_PACKAGE_CONTACT "sfxkit maintainers <sfxkit@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "builds self-extracting ZIP programs for Windows")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "builds self-extracting ZIP programs for Windows\n sfxmake turns a folder or a ZIP archive into one self-extracting .exe\n with the publisher's icon and version details; it carries the 32-bit\n and the 64-bit Windows stub inside itself.")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};sfxkit;sfxmake;/")
# Debug information stays in the build tree; the packages carry a stripped binary.
set(CPACK_STRIP_FILES ON)
include(CPack)
