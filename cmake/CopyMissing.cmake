# cmake -DSRC=<dir> -DDST=<dir> -P CopyMissing.cmake
# Copies the files of SRC into DST that DST does not have yet. Files already there are kept:
# the user may have swapped pictures in the working folders, and a rebuild must not undo that.
file(GLOB_RECURSE files RELATIVE "${SRC}" "${SRC}/*")
foreach(f IN LISTS files)
    if(NOT EXISTS "${DST}/${f}")
        get_filename_component(dir "${DST}/${f}" DIRECTORY)
        file(MAKE_DIRECTORY "${dir}")
        file(COPY_FILE "${SRC}/${f}" "${DST}/${f}")
    endif()
endforeach()
file(MAKE_DIRECTORY "${DST}")
