# Installation layout and the Debian package.
include(GNUInstallDirs)

# Whatever the umask of the machine that builds the package, its folders are
# the usual 0755.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS tavrin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tavrinctl)
    install(TARGETS tavrinctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET tavrin-readersim)
    install(TARGETS tavrin-readersim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(UNIX AND NOT APPLE)
    # Manual pages and the changelog are installed compressed; -n leaves the
    # name and time out, so that two builds give the same bytes.
    find_program(TAVRIN_GZIP gzip REQUIRED)
    set(compressed)
    function(tavrin_gzip source output)
        get_filename_component(plain ${output} NAME_WLE)
        get_filename_component(dir ${output} DIRECTORY)
        add_custom_command(OUTPUT ${output}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
            COMMAND ${CMAKE_COMMAND} -E copy ${source} ${dir}/${plain}
            COMMAND ${TAVRIN_GZIP} -9nf ${dir}/${plain}
            DEPENDS ${source}
            VERBATIM)
        set(compressed ${compressed} ${output} PARENT_SCOPE)
    endfunction()

    set(man_pages tavrin.1 tavrinctl.1 tavrin-readersim.1)
    foreach(page IN LISTS man_pages)
        tavrin_gzip(${PROJECT_SOURCE_DIR}/docs/man/${page} ${PROJECT_BINARY_DIR}/man/${page}.gz)
        install(FILES ${PROJECT_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endforeach()
    # A package without a revision is native: its Debian changelog is
    # changelog.gz, not changelog.Debian.gz.
    set(docdir ${CMAKE_INSTALL_DATADIR}/doc/tavrin)
    tavrin_gzip(${PROJECT_SOURCE_DIR}/tools/linux/changelog ${PROJECT_BINARY_DIR}/doc/changelog.gz)
    install(FILES ${PROJECT_BINARY_DIR}/doc/changelog.gz ${PROJECT_SOURCE_DIR}/tools/linux/copyright
            DESTINATION ${docdir})
    add_custom_target(tavrin_compressed_docs ALL DEPENDS ${compressed})

    # AppStream finds the desktop entry by the component's id, so both carry it.
    set(appstream_id invalid.tavrin.Tavrin)
    install(FILES ${PROJECT_SOURCE_DIR}/tools/linux/${appstream_id}.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/tools/linux/${appstream_id}.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    # Rendered from the drawing by tools/linux/icons/render.sh; the window's
    # own icon stays in app/icons.
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/tools/linux/icons/hicolor
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
            FILES_MATCHING PATTERN "*.png" PATTERN "*.svg")
    # udev reads rules from /usr/lib/udev/rules.d, whatever the prefix says.
    install(FILES ${PROJECT_SOURCE_DIR}/tools/linux/60-tavrin.rules
            DESTINATION ${TAVRIN_UDEV_RULES_DIR})
endif()

set(CPACK_PACKAGE_NAME tavrin)
set(CPACK_PACKAGE_VENDOR "Tavrin developers")
set(CPACK_PACKAGE_CONTACT "Tavrin developers <dev@tavrin.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Set up iButton readers over USB HID or a serial port")
set(CPACK_PACKAGE_DESCRIPTION "\
Tavrin reads and changes the settings of an iButton reader, a device that
reads the ID of a contact token and passes it to a computer as a USB
keyboard or over a serial port.

The package holds three programs:
 - tavrin, a window that connects to a reader over USB HID or a serial port,
   reads its settings, writes them back, switches its interface and starts
   a firmware update;
 - tavrinctl, which lists readers and backs up and restores their settings
   as JSON from the command line;
 - tavrin-readersim, a simulated reader on a pseudo-terminal.

A udev rule gives the user at the seat access to the reader's hidraw node;
serial ports are reached through the dialout group.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs a platform plugin, which the Qt libraries only recommend.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_STRIP_FILES ON)
# Control files get the modes policy asks for, not whatever the tree had.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
