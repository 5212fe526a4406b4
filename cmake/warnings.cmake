add_library(tarn_warnings INTERFACE)
target_compile_options(tarn_warnings INTERFACE -Wall -Wextra -Werror -Wno-unused-parameter
    $<$<COMPILE_LANGUAGE:CXX>:-Wno-missing-field-initializers>
    # GCC 12 reports std::string assignments at -O3 as overlapping copies.
    $<$<CXX_COMPILER_ID:GNU>:-Wno-error=restrict>)
option(TARN_TSAN "Build with ThreadSanitizer (for the tests that use threads)" OFF)
if(TARN_TSAN)
  add_compile_options(-fsanitize=thread -O1 -g)
  add_link_options(-fsanitize=thread)
endif()
if(TARN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
