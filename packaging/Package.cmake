# The Debian package, built from the configured build folder by scripts/package (cpack -G DEB).
# CPack stages the ordinary install rules under /usr; dpkg-shlibdeps derives the dependencies
# from the libraries the program really links.

# Debian's documentation folder: the copyright notice and the changelog, compressed as policy asks.
set(doc_folder ${CMAKE_BINARY_DIR}/packaging)
add_custom_command(OUTPUT ${doc_folder}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${doc_folder}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/changelog ${doc_folder}/changelog
    COMMAND gzip -9nf ${doc_folder}/changelog
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
    VERBATIM)
add_custom_target(velmora_package_docs ALL DEPENDS ${doc_folder}/changelog.gz)
install(FILES packaging/copyright ${doc_folder}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Firewall definitions, so that one command lets phones in: `sudo ufw allow Velmora`, or
# `sudo firewall-cmd --permanent --add-service=velmora`. Installing them opens nothing by itself.
# ufw reads its profiles from /etc only, which, like the autostart entry, only the /usr prefix may
# write; any other prefix keeps the profile under share for the administrator to copy.
install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
        set(ufw_folder /etc/ufw/applications.d)
    else()
        set(ufw_folder \"\${CMAKE_INSTALL_PREFIX}/${VELMORA_DATA_INSTALL_DIR}/ufw\")
    endif()
    file(INSTALL \"${PROJECT_SOURCE_DIR}/packaging/firewall/ufw-velmora\"
         DESTINATION \"\${ufw_folder}\" RENAME velmora)
")
install(FILES packaging/firewall/velmora.xml DESTINATION lib/firewalld/services)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvane Software")
set(CPACK_PACKAGE_CONTACT "Orvane Software <support@orvane.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "phone as touch pad, keyboard and media remote for the PC")
# The long description; CPack indents it below the summary.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Velmora turns a phone on the same local network into a touch pad, keyboard,
media remote and application launcher for the PC. It lives in the system
tray, serves the phone's web client on port 6888 and listens for the phone's
commands on port 8888; the phone pairs by scanning a QR code.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # velmora_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.orvane.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time rather than linked, so dpkg-shlibdeps cannot see them: the SQLite driver
# and the SVG image plugin (the tray and toolbar icons are SVG).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5sql5-sqlite, libqt5svg5")
# Qt's own translations (standard dialogs in Chinese), the browser for the About page's link,
# and Qt's Wayland platform for the window on Wayland desktops (it falls back to X11 without).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qttranslations5-l10n, xdg-utils, qtwayland5")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-shell-extension-appindicator")
set(CPACK_STRIP_FILES ON)
# Install with DESTDIR under the /usr prefix, so that the autostart entry may go to /etc.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
configure_file(${PROJECT_SOURCE_DIR}/packaging/conffiles ${CMAKE_BINARY_DIR}/packaging/conffiles COPYONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
include(CPack)
