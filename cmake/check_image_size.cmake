# Fails the build when the linked updater image would overlap its title block at offset 0xA0000.
#   cmake -DIMAGE=<file> -P check_image_size.cmake
file(SIZE "${IMAGE}" size)
math(EXPR limit "0xA0000")
if(size GREATER limit)
  message(FATAL_ERROR "${IMAGE} is ${size} bytes: the updater image must end at or before offset 0xA0000 "
                      "(${limit} bytes), where its title block begins. Make the program smaller.")
endif()
message(STATUS "updater image: ${size} of ${limit} bytes")
