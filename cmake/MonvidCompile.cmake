# Compile settings shared by every target of our own.

# monvid_target_defaults(<target>): warnings as errors for code we write.
function(monvid_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

if(MONVID_SANITIZE)
  add_compile_options(-fsanitize=${MONVID_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=${MONVID_SANITIZE})
endif()

# Optional subdirectory: lets parts of the tree be added as they are written.
macro(monvid_optional_subdirectory dir)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endmacro()

if(MONVID_BUILD_FUZZ)
  # Coverage for the code under test; the fuzz targets add -fsanitize=fuzzer themselves.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
