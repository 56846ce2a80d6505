# Each part of the tree is a target that shows its users only its own folder.
# Sources include "folder/Header.h"; a target's include path holds a directory
# of the build tree with one link named as the folder, so a part that does not
# link the target cannot name its headers: the compiler finds nothing.
function(corvane_expose target scope folder)
  set(dir ${CMAKE_BINARY_DIR}/layers/${folder})
  if(NOT IS_SYMLINK ${dir}/${folder})
    file(MAKE_DIRECTORY ${dir})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${dir}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${dir})
endfunction()
