# Windows system libraries that are not among the system's known DLLs (bcrypt, crypt32, secur32,
# comctl32) are found by a plain import the way every library is: the program's own folder
# first. Bound at start-up, before main can restrict the search, a file of that name beside the
# program would be loaded in their place. Linked through delay-load import libraries instead,
# each is loaded at its first call, after main has limited every search to the system folder
# (HardenLibrarySearch, which also binds each from there at once: keep its list and the
# layers' lists the same).
#
# brixa_link_delayed_system_libraries(<target> <library>...): links <target> (PUBLIC) to each
# <library> (the MinGW import library's name: bcrypt for libbcrypt.a) through a delay-load
# library made at configure time from the import library's own list of functions. Programs
# built against the installed package link the plain import libraries.
function(brixa_link_delayed_system_libraries target)
  set(folder ${CMAKE_BINARY_DIR}/delay-import)
  file(MAKE_DIRECTORY ${folder})
  foreach(library ${ARGN})
    set(delayed ${folder}/lib${library}_delay.a)
    if(NOT EXISTS ${delayed})
      find_file(import_${library} lib${library}.a PATHS ${CMAKE_FIND_ROOT_PATH}/lib
        NO_DEFAULT_PATH REQUIRED)
      execute_process(COMMAND ${CMAKE_NM} -g ${import_${library}}
        OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
      string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@]+" imports "${symbols}")
      list(TRANSFORM imports REPLACE " I __imp_" "")
      list(REMOVE_DUPLICATES imports)
      if(NOT imports)
        message(FATAL_ERROR "${import_${library}} lists no functions")
      endif()
      list(JOIN imports "\n  " exports)
      file(WRITE ${folder}/${library}.def "LIBRARY ${library}.dll\nEXPORTS\n  ${exports}\n")
      execute_process(COMMAND ${CMAKE_DLLTOOL} --input-def ${folder}/${library}.def
        --dllname ${library}.dll --output-delaylib ${delayed} COMMAND_ERROR_IS_FATAL ANY)
    endif()
    target_link_libraries(${target} PUBLIC $<BUILD_INTERFACE:${delayed}>
      $<INSTALL_INTERFACE:${library}>)
  endforeach()
endfunction()
