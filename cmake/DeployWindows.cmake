# Install step of the Windows programs: copies beside them every DLL they
# and Qt's plugins import, found by following each file's import table with
# mingw objdump. A DLL found neither in Qt nor beside the compiler is the
# system's and stays out, so nothing of Wine's ever ships. The names in
# import tables are compared without case, as Windows does, and each DLL
# keeps the spelling of its file.
#   KESTRUM_DEPLOY_ROOT     the folder (the install prefix)
#   KESTRUM_DEPLOY_QT       Qt's prefix, for the plugins
#   KESTRUM_DEPLOY_PLUGINS  the plugins, relative to Qt's plugins/
#   KESTRUM_DEPLOY_SEARCH   the folders the DLLs come from
#   KESTRUM_OBJDUMP         mingw objdump
#   KESTRUM_STRIP           mingw strip: the runtime DLLs carry debug data

set(known_names)
set(known_paths)
foreach(dir IN LISTS KESTRUM_DEPLOY_SEARCH)
    file(GLOB dlls "${dir}/*.dll")
    foreach(dll IN LISTS dlls)
        get_filename_component(name "${dll}" NAME)
        string(TOLOWER "${name}" name)
        list(FIND known_names "${name}" index)
        if(index LESS 0)
            list(APPEND known_names "${name}")
            list(APPEND known_paths "${dll}")
        endif()
    endforeach()
endforeach()

# Every program installed into the folder, so that each one's DLLs ship.
file(GLOB pending "${KESTRUM_DEPLOY_ROOT}/*.exe")
foreach(plugin IN LISTS KESTRUM_DEPLOY_PLUGINS)
    get_filename_component(plugin_dir "${plugin}" DIRECTORY)
    file(INSTALL "${KESTRUM_DEPLOY_QT}/plugins/${plugin}" DESTINATION "${KESTRUM_DEPLOY_ROOT}/${plugin_dir}")
    list(APPEND pending "${KESTRUM_DEPLOY_ROOT}/${plugin}")
endforeach()

set(copied)
while(pending)
    list(POP_FRONT pending file)
    execute_process(COMMAND "${KESTRUM_OBJDUMP}" -p "${file}"
        OUTPUT_VARIABLE imports RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "objdump cannot read ${file}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${imports}")
    foreach(import IN LISTS imports)
        string(REGEX REPLACE "DLL Name: " "" name "${import}")
        string(STRIP "${name}" name)
        string(TOLOWER "${name}" name)
        list(FIND copied "${name}" done)
        list(FIND known_names "${name}" index)
        if(index LESS 0 OR done GREATER_EQUAL 0)
            continue()
        endif()
        list(APPEND copied "${name}")
        list(GET known_paths ${index} dll)
        file(INSTALL "${dll}" DESTINATION "${KESTRUM_DEPLOY_ROOT}")
        get_filename_component(dll_name "${dll}" NAME)
        execute_process(COMMAND "${KESTRUM_STRIP}" --strip-debug "${KESTRUM_DEPLOY_ROOT}/${dll_name}" COMMAND_ERROR_IS_FATAL ANY)
        list(APPEND pending "${KESTRUM_DEPLOY_ROOT}/${dll_name}")
    endforeach()
endwhile()

# Qt looks for its plugins beside the program, not where it was built.
file(WRITE "${KESTRUM_DEPLOY_ROOT}/qt.conf" "[Paths]\nPrefix = .\nPlugins = .\n")
