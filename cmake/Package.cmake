# The Debian package: `cmake --build build --target package` writes
# build/varozuvod_<version>_<arch>.deb.  It installs the run folder (the
# executable, the data/ tree and the web server's files) as one folder under
# /usr/lib/varozuvod, a launcher /usr/bin/varozuvod that starts the game from
# there, the desktop entry with the emblem icons, the manual page, and the
# headless host's systemd unit with its options in /etc/default.
include(GNUInstallDirs)

set(VAROZUVOD_PACKAGE_VERSION 1.0)  # the version `varozuvod --version` reports
set(VAROZUVOD_RUN_DIR_NAME lib/varozuvod)
set(VAROZUVOD_PACKAGING_PREFIX /usr)
set(VAROZUVOD_RUN_DIR ${VAROZUVOD_PACKAGING_PREFIX}/${VAROZUVOD_RUN_DIR_NAME})
file(RELATIVE_PATH VAROZUVOD_RUN_DIR_FROM_BIN /${CMAKE_INSTALL_BINDIR} /${VAROZUVOD_RUN_DIR_NAME})
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(staged ${CMAKE_BINARY_DIR}/packaging)

configure_file(${packaging}/varozuvod.in ${staged}/bin/varozuvod @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
configure_file(${packaging}/varozuvod-host.service.in ${staged}/varozuvod-host.service @ONLY)
configure_file(${packaging}/postinst.in ${staged}/control/postinst @ONLY)
configure_file(${packaging}/postrm ${staged}/control/postrm COPYONLY)
configure_file(${packaging}/conffiles ${staged}/control/conffiles COPYONLY)

# The icons are drawn by a small program of ours; the manual page is
# compressed as Debian keeps them.
add_executable(varozuvod-emblem ${packaging}/emblem/Emblem.cpp)
target_link_libraries(varozuvod-emblem PRIVATE Qt6::Gui)
set(icons ${staged}/icons)
add_custom_command(OUTPUT ${icons}/.drawn
  COMMAND varozuvod-emblem ${icons}
  COMMAND ${CMAKE_COMMAND} -E touch ${icons}/.drawn
  DEPENDS varozuvod-emblem COMMENT "Drawing the emblem icons")
find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(OUTPUT ${staged}/varozuvod.6.gz
  COMMAND ${GZIP_PROGRAM} -9n -c ${packaging}/varozuvod.6 > ${staged}/varozuvod.6.gz
  DEPENDS ${packaging}/varozuvod.6 COMMENT "Compressing the manual page")

# Everything the package holds that a plain build does not make; `package`
# depends on every target, so it takes these with it.
add_custom_target(package-files ALL DEPENDS ${icons}/.drawn ${staged}/varozuvod.6.gz)
add_dependencies(package-files varozuvod webfiles)
if(TARGET gamedata)
  add_dependencies(package-files gamedata)
endif()

# ------------------------------------------------------------------ contents

install(TARGETS varozuvod RUNTIME DESTINATION ${VAROZUVOD_RUN_DIR_NAME})
# The web server's downloads; it only reads them.
install(FILES ${VAROZUVOD_GAME_DIR}/VAROzuvod.exe ${VAROZUVOD_GAME_DIR}/VAROzuvod.ZIP
              ${VAROZUVOD_GAME_DIR}/DATA.ZIP DESTINATION ${VAROZUVOD_RUN_DIR_NAME})
# The build's stamp files are not game data.
install(DIRECTORY ${VAROZUVOD_GAME_DIR}/data DESTINATION ${VAROZUVOD_RUN_DIR_NAME}
        PATTERN ".*" EXCLUDE)
install(PROGRAMS ${staged}/bin/varozuvod DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${packaging}/varozuvod.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(DIRECTORY ${icons}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor PATTERN ".*" EXCLUDE)
install(FILES ${staged}/varozuvod.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${staged}/varozuvod-host.service DESTINATION lib/systemd/system)
# It may hold the host's password: readable by root only.
install(FILES ${packaging}/varozuvod-host.default DESTINATION /etc/default RENAME varozuvod-host
        PERMISSIONS OWNER_READ OWNER_WRITE)

# ------------------------------------------------------------------ package

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varozuvod)
set(CPACK_PACKAGE_VERSION ${VAROZUVOD_PACKAGE_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${VAROZUVOD_PACKAGING_PREFIX})
set(CPACK_PACKAGE_CONTACT "VAROzuvod developers <varozuvod@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small online 3D game for a handful of players")
set(CPACK_PACKAGE_DESCRIPTION
    "One program plays every role: the first player hosts a game, the others\n"
    "join it and walk and chat on a marble field in an OpenGL window.  The host\n"
    "can offer the game's files to the other players on its own web server,\n"
    "and can run without a window as a systemd service.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The glyph atlas falls back on DejaVu Sans where Verdana is missing; the
# sound is OpenAL Soft's, the router's port mapping miniupnpc's and
# libnatpmp's (dpkg-shlibdeps finds them too, this says it aloud).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core, libopenal1, libminiupnpc17, libnatpmp1")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libcap2-bin")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${staged}/control/postinst ${staged}/control/postrm
                                       ${staged}/control/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# ------------------------------------------------------------------ test

if(VAROZUVOD_TESTS)
  add_test(NAME PackageTest
           COMMAND bash ${PROJECT_SOURCE_DIR}/tests/e2e/PackageTest.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(PackageTest PROPERTIES LABELS e2e TIMEOUT 300 RUN_SERIAL ON)
endif()
