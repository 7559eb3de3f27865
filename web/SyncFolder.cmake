# cmake -DSOURCE=dir -DDESTINATION=dir -P SyncFolder.cmake
# Makes DESTINATION a copy of SOURCE: new and changed files are copied (unchanged ones are
# skipped by their time stamps), files no longer in SOURCE are removed. The destination is
# never emptied first, so a running program keeps finding its files during a build.
cmake_minimum_required(VERSION 3.16)
if(NOT EXISTS "${SOURCE}")
    return()
endif()
# A symlinked source would be copied as the link itself.
get_filename_component(SOURCE "${SOURCE}" REALPATH)
file(MAKE_DIRECTORY "${DESTINATION}")
file(GLOB_RECURSE wanted RELATIVE "${SOURCE}" LIST_DIRECTORIES false "${SOURCE}/*")
file(GLOB_RECURSE present RELATIVE "${DESTINATION}" LIST_DIRECTORIES false "${DESTINATION}/*")
foreach(name IN LISTS present)
    if(NOT name IN_LIST wanted)
        file(REMOVE "${DESTINATION}/${name}")
    endif()
endforeach()
file(COPY "${SOURCE}/" DESTINATION "${DESTINATION}")
