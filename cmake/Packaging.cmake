# Install layout and packages.
#   Linux:   lib/vst (the VST 2.4 pair), lib/lv2 (both bundles), bin/orvex;
#            cpack makes a Debian package of it, dependencies from dpkg-shlibdeps.
#   Windows: the DLL pair and an install note at the top of a zip, one per
#            architecture (cpack in each MinGW build folder).
#   The MIT licence: LICENSE beside the DLLs, and on Linux the Debian
#   copyright file (machine-readable, its licence text made from LICENSE).
if(WIN32)
    install(TARGETS MultibandOrvexMaximizer Orvex_Maximizer LIBRARY DESTINATION . RUNTIME DESTINATION .)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/WindowsInstall.txt DESTINATION . RENAME INSTALL.txt)
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
else()
    file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
    string(STRIP "${licence}" licence)
    string(REPLACE "\n\n" "\n.\n" licence "${licence}")
    string(REPLACE "\n" "\n " ORVEX_LICENSE_TEXT " ${licence}")
    configure_file(${CMAKE_CURRENT_LIST_DIR}/DebianCopyright.in ${CMAKE_BINARY_DIR}/copyright @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION share/doc/multiband-orvex-maximizer)
    install(TARGETS MultibandOrvexMaximizer Orvex_Maximizer LIBRARY DESTINATION lib/vst)
    if(TARGET MultibandOrvexMaximizer_lv2)
        foreach(plugin MultibandOrvexMaximizer Orvex_Maximizer)
            install(TARGETS ${plugin}_lv2 LIBRARY DESTINATION lib/lv2/${plugin}.lv2)
            install(FILES ${ORVEX_LV2_DIR}/${plugin}.lv2/manifest.ttl ${ORVEX_LV2_DIR}/${plugin}.lv2/${plugin}.ttl
                    DESTINATION lib/lv2/${plugin}.lv2)
        endforeach()
        # The bundle's own copy of the inner maximizer, which the effect loads from its folder.
        install(TARGETS Orvex_Maximizer LIBRARY DESTINATION lib/lv2/MultibandOrvexMaximizer.lv2)
    endif()
    if(TARGET orvex)
        install(TARGETS orvex RUNTIME DESTINATION bin)
    endif()
endif()

set(CPACK_PACKAGE_NAME MultibandOrvexMaximizer)
set(CPACK_PACKAGE_VENDOR ylk)
set(CPACK_PACKAGE_CONTACT "ylk")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Stereo five-band lookahead maximizer plug-in (VST 2.4, LV2) with the orvex command-line host")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(CPACK_SYSTEM_NAME win64)
    else()
        set(CPACK_SYSTEM_NAME win32)
    endif()
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_PACKAGE_NAME multiband-orvex-maximizer)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION sound)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
