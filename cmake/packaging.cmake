# Packages, made with CPack (make package): a Debian package from the Linux
# build, a zip from each Windows build.
set(CPACK_PACKAGE_NAME lyfs)
set(CPACK_PACKAGE_VENDOR lyfs)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "lyfs developers <lyfs@invalid>")
# The builds carry debug information; the packages do not.
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME lyfs-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR})
    set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
    set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
    set(CPACK_COMPONENTS_ALL runtime development)
    # Unpacked, a zip gives one folder named after it.
    set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_PACKAGE_DESCRIPTION
        "The lyfs library (shared and static, with its C header, pkg-config file and CMake
package) reads and writes the card file system that video recorders use, and the
lyfs tool lists, copies, prepares, checks and mounts such cards.")
    # The libraries the binaries link (libfuse3 among them) are found by
    # dpkg-shlibdeps; fusermount3, which unmounts a card, is a program.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "fuse3")
    set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()

include(CPack)
