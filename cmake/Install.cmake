# What `cmake --install` puts under the prefix, and the Debian package of it.
# Everything is relative to the prefix, so one build installs anywhere
# (`cmake --install build --prefix DIR`).
include(CMakePackageConfigHelpers)
set(HANDPIX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/handpix)

install(TARGETS handpix EXPORT handpixTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET handpix_tool)
  install(TARGETS handpix_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES docs/handpix.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The public headers are what handpix.h includes, found by the compiler when
# installing so that a header added to or dropped from the umbrella needs no
# second list here.
install(CODE "
  set(HANDPIX_CXX \"${CMAKE_CXX_COMPILER}\")
  set(HANDPIX_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")
  set(HANDPIX_INCLUDE_DIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
")
install(SCRIPT cmake/InstallHeaders.cmake)

# The CMake package: handpix::handpix.
install(EXPORT handpixTargets NAMESPACE handpix:: DESTINATION ${HANDPIX_CMAKE_DIR})
get_target_property(_type handpix TYPE)
if(_type STREQUAL "STATIC_LIBRARY")
  set(HANDPIX_STATIC ON)
else()
  set(HANDPIX_STATIC OFF)
endif()
configure_package_config_file(cmake/handpixConfig.cmake.in ${PROJECT_BINARY_DIR}/handpixConfig.cmake
  INSTALL_DESTINATION ${HANDPIX_CMAKE_DIR})
# Before 1.0 a minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/handpixConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/handpixConfig.cmake ${PROJECT_BINARY_DIR}/handpixConfigVersion.cmake
  DESTINATION ${HANDPIX_CMAKE_DIR})

# pkg-config: the prefix is found from where the .pc file lies.
file(RELATIVE_PATH HANDPIX_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" HANDPIX_PC_TO_PREFIX "${HANDPIX_PC_TO_PREFIX}")
configure_file(cmake/handpix.pc.in ${PROJECT_BINARY_DIR}/handpix.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/handpix.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# cpack -G DEB: one package with the library, the tool, the headers and the man page.
set(CPACK_PACKAGE_NAME handpix)
set(CPACK_PACKAGE_VENDOR "handpix")
set(CPACK_PACKAGE_CONTACT "handpix developers <handpix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "picture-management library for handset pictures, and its command-line tool")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tool and the library find each other inside the package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/handpix)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# Captions are Korean and Latin; the library's font aliases name these fonts.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-baekmuk | fonts-nanum")
# browse and play open SDL2 when they first show a window; nothing else needs it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsdl2-2.0-0")
include(CPack)
