# Installation layout and the Debian package (./scripts/package).
#
#   /usr/bin/thermora                     the program
#   /usr/bin/smc                          the key-writing tool, set-user-ID root (4755)
#   /usr/bin/thermora-smcsim              the simulated SMC, to replay a machine's dump
#   /usr/bin/thermora-applesmc-tree       a driver-shaped folder from a dump
#   /usr/share/thermora/{languages,profiles}
#   /usr/share/applications, /usr/share/icons/hicolor/128x128/apps, /usr/share/doc/thermora
#
# The program finds its tool beside itself and its languages in ../share/thermora, so the
# build tree (build/bin, build/share/thermora) has the same shape. The package has no
# maintainer scripts: it puts files in place and changes nothing else.
include(GNUInstallDirs)

install(TARGETS thermora thermora-smcsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET thermora-applesmc-tree)
    install(TARGETS thermora-applesmc-tree RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# Writes need root; the tool drops its rights before it touches anything the caller names.
install(TARGETS smc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    PERMISSIONS SETUID OWNER_READ OWNER_WRITE OWNER_EXECUTE
                GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

file(GLOB THERMORA_PACKAGE_LANGUAGES ${PROJECT_SOURCE_DIR}/src/resources/languages/*.xml)
list(FILTER THERMORA_PACKAGE_LANGUAGES EXCLUDE REGEX "/English\\.xml$") # built in
install(FILES ${THERMORA_PACKAGE_LANGUAGES} DESTINATION ${CMAKE_INSTALL_DATADIR}/thermora/languages)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/profiles/ DESTINATION ${CMAKE_INSTALL_DATADIR}/thermora/profiles
    FILES_MATCHING PATTERN "*.dump" PATTERN "*.profile" PATTERN "tools" EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/thermora.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/thermora.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)

# Debian wants the changelog compressed without a time stamp.
set(THERMORA_DEB_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.Debian.gz)
add_custom_command(OUTPUT ${THERMORA_DEB_CHANGELOG}
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${THERMORA_DEB_CHANGELOG}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
add_custom_target(thermora_deb_changelog ALL DEPENDS ${THERMORA_DEB_CHANGELOG})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${THERMORA_DEB_CHANGELOG}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/thermora)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME thermora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Thermora maintainers <maintainers@users.noreply.c-seed-f1849b08.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "fan control and temperature display for Macs")
set(CPACK_PACKAGE_DESCRIPTION
    "Thermora shows the fan speeds and temperature sensors of Apple hardware\n and lets the user run every fan automatically, at a constant speed, or\n following a sensor. On Macs running Linux it uses the kernel's applesmc\n driver; writes go through a small set-user-ID tool.")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
