# Installation as Linux desktop programs are laid out, and the Debian package
# that CPack builds from it.
include(GNUInstallDirs)

set(KALDRA_PACKAGE_CONTACT "KALDRA developers <kaldra@example.org>"
    CACHE STRING "Maintainer named in the Debian package")
set(KALDRA_DEB_VERSION ${PROJECT_VERSION}-1)
set(KALDRA_APPSTREAM_ID org.example.kaldra)
set(KALDRA_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kaldra)
# The menu entry starts the program in its own folder, where it keeps its
# settings file.
set(KALDRA_MENU_START ${CMAKE_INSTALL_FULL_LIBEXECDIR}/kaldra/kaldra-from-menu)
set(generated ${PROJECT_BINARY_DIR}/packaging)
configure_file(${PROJECT_SOURCE_DIR}/resources/kaldra.desktop.in ${generated}/kaldra.desktop @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/${KALDRA_APPSTREAM_ID}.metainfo.xml.in
               ${generated}/${KALDRA_APPSTREAM_ID}.metainfo.xml @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/kaldra.1.in ${generated}/kaldra.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/changelog.Debian.in ${generated}/changelog.Debian
               @ONLY)

install(TARGETS kaldra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${PROJECT_SOURCE_DIR}/resources/kaldra-from-menu
        DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/kaldra)
install(FILES ${generated}/kaldra.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${generated}/${KALDRA_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
set(KALDRA_ICON_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${PROJECT_SOURCE_DIR}/resources/MAINICON.png
        DESTINATION ${KALDRA_ICON_DIR}/32x32/apps RENAME kaldra.png)
if(EXISTS ${PROJECT_SOURCE_DIR}/resources/MAINICON@2x.png)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/MAINICON@2x.png
          DESTINATION ${KALDRA_ICON_DIR}/64x64/apps RENAME kaldra.png)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/resources/copyright DESTINATION ${KALDRA_DOC_DIR})
# Compressed as Debian's tools do: the best ratio, no name or time stamp, so
# that the same sources give the same package.
install(CODE "
  foreach(page kaldra.1 changelog.Debian)
    execute_process(COMMAND gzip -n -9 -c ${generated}/\${page}
                    OUTPUT_FILE ${generated}/\${page}.gz COMMAND_ERROR_IS_FATAL ANY)
  endforeach()")
install(FILES ${generated}/kaldra.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${generated}/changelog.Debian.gz DESTINATION ${KALDRA_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME kaldra)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kaldra)
set(CPACK_PACKAGE_VENDOR "KALDRA developers")
set(CPACK_PACKAGE_CONTACT ${KALDRA_PACKAGE_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "two-radio receive audio controller for contest operators")
set(CPACK_PACKAGE_DESCRIPTION "Captures the receive audio of two radios from two sound-card inputs and
plays it on the headphones: radio 1 in both ears, the second radio in both
ears, or one in each ear, with one-click mute. A third radio can take the
second one's place. Runs on any PulseAudio or PipeWire sound server.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Where the build was configured to install (/usr for a distribution's
# package): the menu entry names its start script by that path.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# The shared libraries' packages come from dpkg-shlibdeps. Qt's window
# plugins, the sound player's PulseAudio back-end and Hamlib are loaded at
# run time, so nothing links them and they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libcanberra-pulse, libhamlib4")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio")
include(CPack)
