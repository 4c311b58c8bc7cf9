# Compile settings shared by every target of our own.

# Warnings are errors in our own builds (scripts/test.sh and CI turn this on); a user's or a
# packager's build with another compiler or optimisation level must not fail on a warning.
option(MONVID_WERROR "Treat compiler warnings in our own code as errors" OFF)

# monvid_target_defaults(<target>): the warnings we keep our own code free of.
function(monvid_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(MONVID_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(MONVID_SANITIZE)
  add_compile_options(-fsanitize=${MONVID_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=${MONVID_SANITIZE})
endif()

if(MONVID_BUILD_FUZZ)
  # Coverage for the code under test; the fuzz targets add -fsanitize=fuzzer themselves.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
