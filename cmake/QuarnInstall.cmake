# Installing like a desktop application (GNUInstallDirs):
#   bin/                          QuarnAI, and the stand-ins QuarnHost, QuarnGetText, QuarnAIService
#   lib/quarnai/                  the web engine's page-process extension
#   share/quarnai/                the resources (images, the bridge's page script, Info.plist)
#   share/applications/           the desktop entry
#   share/icons/hicolor/.../apps/ the product's icon
# The program finds share/quarnai and lib/quarnai relative to its own folder, so any prefix works.
# A Debian package comes from CPack (scripts/package.sh).
include(GNUInstallDirs)

set(QUARN_INSTALLED_NAME quarnai)
set(QUARN_APP_ID com.morvane.QuarnAIAssistant)

# A build folder gets the same layout for its resources, wherever it lies.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/share)
if(NOT EXISTS ${CMAKE_BINARY_DIR}/share/${QUARN_INSTALLED_NAME})
  file(CREATE_LINK ${QUARN_ROOT}/resources ${CMAKE_BINARY_DIR}/share/${QUARN_INSTALLED_NAME} SYMBOLIC)
endif()

if(NOT TARGET QuarnAI)
  return()
endif()

install(TARGETS QuarnAI QuarnHost QuarnGetText QuarnAIService RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Fixed "lib", not the multiarch folder: the program looks for it at ../lib/quarnai.
install(TARGETS kit_webkit_page_extension LIBRARY DESTINATION lib/${QUARN_INSTALLED_NAME})
install(DIRECTORY ${QUARN_ROOT}/resources/ DESTINATION ${CMAKE_INSTALL_DATADIR}/${QUARN_INSTALLED_NAME}
        PATTERN "test" EXCLUDE PATTERN "src" EXCLUDE)
install(FILES ${QUARN_ROOT}/packaging/linux/${QUARN_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 22 24 32 48 64 128 256)
  set(icon ${QUARN_ROOT}/packaging/linux/icons/${size}x${size}/${QUARN_APP_ID}.png)
  if(EXISTS ${icon})
    install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endif()
endforeach()
if(EXISTS ${QUARN_ROOT}/packaging/linux/icons/scalable/${QUARN_APP_ID}.svg)
  install(FILES ${QUARN_ROOT}/packaging/linux/icons/scalable/${QUARN_APP_ID}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QUARN_INSTALLED_NAME})
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_VENDOR "Morvane")
set(CPACK_PACKAGE_CONTACT "QuarnAI maintainers <quarnai@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "AI-assistant companion of the Quarn desktop programs")
set(CPACK_PACKAGE_DESCRIPTION "QuarnAI lives in the system tray, shows the AI service's chat page in a side window, answers global hot keys and talks to its sibling Quarn programs over the session bus.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Dependencies from the libraries the programs link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
include(CPack)
