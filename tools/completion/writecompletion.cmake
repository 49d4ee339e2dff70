# Writes velduo's bash completion as velduo itself makes it, run by the build once velduo is
# linked:  cmake -DVELDUO=<velduo> -DOUT=<file> -P writecompletion.cmake
# The file is replaced whole, by a rename, so that an interrupted build never leaves half of it.
execute_process(COMMAND ${VELDUO} --completion bash
                OUTPUT_VARIABLE script
                RESULT_VARIABLE failed)
if(failed OR script STREQUAL "")
    message(FATAL_ERROR "${VELDUO} --completion bash failed: ${failed}")
endif()
get_filename_component(folder ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
file(WRITE ${OUT}.part "${script}")
file(RENAME ${OUT}.part ${OUT})
