# Install rules and the Debian package. Included at the end of the top-level
# CMakeLists.txt, so every program target is known by the time we look for it.

include(GNUInstallDirs)

# The programs use only the system's libraries, so the installed copies need no run
# path (the one the Qt project setup adds points at a lib/ we do not ship).
set(lumivox_programs lumivox)
if(TARGET lumivox-serve)
    list(APPEND lumivox_programs lumivox-serve)
endif()
if(TARGET lumivox-projector-sim)
    list(APPEND lumivox_programs lumivox-projector-sim)
endif()
set_target_properties(${lumivox_programs} PROPERTIES INSTALL_RPATH "")

install(TARGETS lumivox RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The service's program, which `lumivox --serve` becomes.
if(TARGET lumivox-serve)
    install(TARGETS lumivox-serve RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The simulator is optional: install it only in trees that build it.
if(TARGET lumivox-projector-sim)
    install(TARGETS lumivox-projector-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    # The package test packs whatever is installed, so it needs the simulator built too.
    if(TARGET tst_package)
        add_dependencies(tst_package lumivox-projector-sim)
    endif()
endif()

# Menu entry, software-centre metadata and the window's icon in the hicolor theme,
# where the desktop entry's Icon=lumivox finds it: the 32×32 image the program
# embeds, and its vector source for every other size.
set(lumivox_icon_dir ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES packaging/lumivox.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/org.example.lumivox.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES Resources/proj.png DESTINATION ${lumivox_icon_dir}/32x32/apps RENAME lumivox.png)
install(FILES Resources/src/proj.svg DESTINATION ${lumivox_icon_dir}/scalable/apps
        RENAME lumivox.svg)

# The makers' command sets as files too, where the program looks for the system's sets
# (the program's data folder, share/lumivox): to be read and copied when writing one.
file(GLOB lumivox_shipped_sets CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/link/sets/*)
install(FILES ${lumivox_shipped_sets} DESTINATION ${CMAKE_INSTALL_DATADIR}/lumivox/sets)

# The service: one systemd instance per projector (lumivox-serve@ID.service), or one
# gateway for the projectors of a fleet file (lumivox-gateway.service).
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    install(FILES packaging/systemd/lumivox-serve@.service
                  packaging/systemd/lumivox-gateway.service
            DESTINATION lib/systemd/system)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumivox)
set(CPACK_PACKAGE_VENDOR "Lumivox developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Lumivox sends the commands of a video projector's remote control over an"
    "RS-232 serial port and shows the projector's lamp state, whether it answers,"
    "and its replies. As a service it reports the projector to an MQTT broker"
    "and takes its commands from there, found by Home Assistant.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Lumivox developers <lumivox@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Computed from the installed binaries by dpkg-shlibdeps, so the package follows the
# Qt libraries it was actually linked with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The menu and icon caches are refreshed by the triggers of the packages that own
# them, so the package needs no maintainer scripts.
include(CPack)
