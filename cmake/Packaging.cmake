# Installation as Linux desktop programs are laid out, and the Debian package
# that CPack builds from it.
include(GNUInstallDirs)

install(TARGETS kaldra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/kaldra.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
set(KALDRA_ICON_DIR ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${PROJECT_SOURCE_DIR}/resources/MAINICON.png
        DESTINATION ${KALDRA_ICON_DIR}/32x32/apps RENAME kaldra.png)
if(EXISTS ${PROJECT_SOURCE_DIR}/resources/MAINICON@2x.png)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/MAINICON@2x.png
          DESTINATION ${KALDRA_ICON_DIR}/64x64/apps RENAME kaldra.png)
endif()

set(KALDRA_PACKAGE_CONTACT "KALDRA developers <kaldra@example.org>"
    CACHE STRING "Maintainer named in the Debian package")

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
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
# The shared libraries' packages come from dpkg-shlibdeps. Qt's window
# plugins and the sound player's PulseAudio back-end are loaded at run time,
# so nothing links them and they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libcanberra-pulse")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio")
include(CPack)
