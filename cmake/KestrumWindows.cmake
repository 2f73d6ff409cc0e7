# The Windows program: kestrum-panel.exe with its manifest, icon and
# version resource, an install that makes a folder which runs on a Windows
# machine with nothing else installed (scripts/build-windows.sh), and the
# installer CPack makes of that folder (scripts/package-windows.sh).

enable_language(RC)

# Four numbers for the version resource and the manifest.
set(kestrum_version_parts ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR})
foreach(part PATCH TWEAK)
    if("${PROJECT_VERSION_${part}}" STREQUAL "")
        list(APPEND kestrum_version_parts 0)
    else()
        list(APPEND kestrum_version_parts ${PROJECT_VERSION_${part}})
    endif()
endforeach()
list(JOIN kestrum_version_parts "," KESTRUM_VERSION_COMMAS)
list(JOIN kestrum_version_parts "." KESTRUM_VERSION_QUAD)

set(KESTRUM_ICON ${PROJECT_SOURCE_DIR}/resources/icon.ico)
set(KESTRUM_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/kestrum-panel.manifest)
configure_file(resources/windows/kestrum-panel.manifest ${KESTRUM_MANIFEST} @ONLY)
configure_file(resources/windows/kestrum-panel.rc.in ${CMAKE_CURRENT_BINARY_DIR}/kestrum-panel.rc @ONLY)
target_sources(kestrum-panel PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/kestrum-panel.rc)
set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/kestrum-panel.rc APPEND PROPERTY OBJECT_DEPENDS
    ${KESTRUM_ICON} ${KESTRUM_MANIFEST})

# What Qt loads at run time rather than links: the platform plugin, and
# the native widget style.
get_target_property(kestrum_qt_core Qt6::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(kestrum_qt_bin ${kestrum_qt_core} DIRECTORY)
get_filename_component(kestrum_qt_prefix ${kestrum_qt_bin} DIRECTORY)
set(kestrum_plugins platforms/qwindows.dll styles/qwindowsvistastyle.dll)

# The compiler's runtime DLLs (libstdc++, libgcc, winpthread) live beside
# its libraries; everything not found there nor in Qt is the system's.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
    OUTPUT_VARIABLE kestrum_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libwinpthread-1.dll
    OUTPUT_VARIABLE kestrum_winpthread OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(kestrum_gcc_dir ${kestrum_libstdcxx} DIRECTORY)
get_filename_component(kestrum_winpthread_dir ${kestrum_winpthread} DIRECTORY)
find_program(KESTRUM_OBJDUMP NAMES ${CMAKE_OBJDUMP} x86_64-w64-mingw32-objdump REQUIRED)

install(CODE "
    set(KESTRUM_DEPLOY_ROOT \"\${CMAKE_INSTALL_PREFIX}\")
    set(KESTRUM_DEPLOY_QT \"${kestrum_qt_prefix}\")
    set(KESTRUM_DEPLOY_PLUGINS \"${kestrum_plugins}\")
    set(KESTRUM_DEPLOY_SEARCH \"${kestrum_qt_bin};${kestrum_gcc_dir};${kestrum_winpthread_dir}\")
    set(KESTRUM_OBJDUMP \"${KESTRUM_OBJDUMP}\")
    set(KESTRUM_STRIP \"${CMAKE_STRIP}\")
")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/DeployWindows.cmake)

# The installer (cmake/NSIS.template.in): per machine into Program Files,
# for 64-bit Windows with Unicode texts (NSIS's default stub is 32-bit ANSI,
# which a 64-bit Wine cannot start); the program at the folder's top.
set(CPACK_GENERATOR NSIS)
set(CPACK_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
set(CPACK_MONOLITHIC_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_FILE_NAME kestrum-panel-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Kestrum Panel")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY KestrumPanel)
set(CPACK_PACKAGE_EXECUTABLES kestrum-panel "Kestrum Panel")
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_PACKAGE_NAME "Kestrum Panel")
set(CPACK_NSIS_DISPLAY_NAME "Kestrum Panel")
set(CPACK_NSIS_INSTALLED_ICON_NAME kestrum-panel.exe)
set(CPACK_NSIS_MUI_ICON ${KESTRUM_ICON})
set(CPACK_NSIS_MUI_UNIICON ${KESTRUM_ICON})
set(CPACK_NSIS_URL_INFO_ABOUT https://kestrum.example/panel)
include(CPack)
