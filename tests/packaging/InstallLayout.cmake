# Installs the build in BUILD_DIR into PREFIX (in place of INSTALL_PREFIX, the
# one it was configured for) and checks what a desktop and a distribution need.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

foreach(file bin/kaldra share/man/man1/kaldra.1.gz share/doc/kaldra/copyright
             share/doc/kaldra/changelog.Debian.gz share/metainfo/org.example.kaldra.metainfo.xml)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "${file} is not installed")
  endif()
endforeach()

set(entry ${PREFIX}/share/applications/kaldra.desktop)
if(NOT EXISTS ${entry})
  message(FATAL_ERROR "no menu entry at ${entry}")
endif()
file(READ ${entry} text)
string(REGEX MATCH "\nExec=([^ \n]*)" exec "${text}")
string(REPLACE "${INSTALL_PREFIX}/" "${PREFIX}/" start "${CMAKE_MATCH_1}")
string(REGEX MATCH "\nIcon=([^\n]*)" icon "${text}")
set(icon "${CMAKE_MATCH_1}")
string(REGEX MATCH "\nCategories=([^\n]*)" categories "${text}")
set(categories ";${CMAKE_MATCH_1}")

if(icon STREQUAL "" OR NOT EXISTS ${PREFIX}/share/icons/hicolor/32x32/apps/${icon}.png)
  message(FATAL_ERROR "the entry's icon '${icon}' is not in the hicolor theme")
endif()
foreach(category Audio HamRadio)
  if(NOT "${categories}" MATCHES ";${category};")
    message(FATAL_ERROR "the entry is not in category ${category}: ${categories}")
  endif()
endforeach()

# Started from the menu, the program runs in ~/.config/kaldra, made for it.
set(home ${PREFIX}/home)
file(WRITE ${PREFIX}/stub/kaldra "#!/bin/sh\npwd > \"$HOME/started-in\"\n")
file(CHMOD ${PREFIX}/stub/kaldra PERMISSIONS OWNER_READ OWNER_EXECUTE)
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=XDG_CONFIG_HOME HOME=${home}
                        PATH=${PREFIX}/stub:/usr/bin:/bin ${start}
                RESULT_VARIABLE result)
file(READ ${home}/started-in folder)
if(NOT result EQUAL 0 OR NOT folder STREQUAL "${home}/.config/kaldra\n")
  message(FATAL_ERROR "the entry runs '${start}', which started kaldra in '${folder}' (${result})")
endif()
file(REMOVE_RECURSE ${PREFIX})
