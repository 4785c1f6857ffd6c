# Installs everything into a scratch DESTDIR and checks what a desktop needs is there.
file(REMOVE_RECURSE ${DESTDIR})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${DESTDIR}
                        ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${result})")
endif()
set(root ${DESTDIR}/usr)
foreach(file bin/pulsara bin/pulsara-cli bin/pulsara-cli-render bin/pulsara-cli-decode
             share/applications/pulsara.desktop
             share/icons/hicolor/scalable/apps/pulsara.svg
             share/icons/hicolor/16x16/apps/pulsara.png share/icons/hicolor/32x32/apps/pulsara.png
             lib/udev/rules.d/70-pulsara.rules)
  if(NOT EXISTS ${root}/${file})
    message(FATAL_ERROR "${file} was not installed")
  endif()
endforeach()
execute_process(COMMAND ${VALIDATE} ${root}/share/applications/pulsara.desktop
                RESULT_VARIABLE valid OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT valid EQUAL 0 OR NOT out STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate rejects pulsara.desktop: ${out}")
endif()
