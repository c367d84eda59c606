# Flags shared by every target of the project: warnings are errors, the
# hardening that a long-lived device image expects, and the optional
# sanitizer and device-size settings.
add_library(quorbix_flags INTERFACE)

target_compile_options(quorbix_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow -Werror
  -fstack-protector-strong)
target_link_options(quorbix_flags INTERFACE -Wl,-z,relro -Wl,-z,now)
# 64-bit file offsets on the 32-bit device too: the settings file's size and
# offsets are never cut to 32 bits.
target_compile_definitions(quorbix_flags INTERFACE _FILE_OFFSET_BITS=64)

if(QUORBIX_SANITIZE)
  target_compile_options(quorbix_flags INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(quorbix_flags INTERFACE -fsanitize=address,undefined)
else()
  # _FORTIFY_SOURCE needs optimisation; sanitizer builds run at -O1 and
  # catch the same faults more precisely without it.
  target_compile_definitions(quorbix_flags INTERFACE
    $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endif()

if(QUORBIX_DEVICE)
  # Objects carry both their code and the compiler's own form of it: the two
  # shipped binaries link with link-time optimisation (quorbix_device_binary,
  # about a tenth smaller), the tests link the plain code and stay quick.
  target_compile_options(quorbix_flags INTERFACE
    -Os -ffunction-sections -fdata-sections -flto=auto -ffat-lto-objects)
  target_link_options(quorbix_flags INTERFACE
    -static-libstdc++ -static-libgcc -Wl,--gc-sections -s)
endif()

# Links a shipped binary as small as the device build can make it.
function(quorbix_device_binary target)
  if(QUORBIX_DEVICE)
    target_link_options(${target} PRIVATE -flto=auto)
  endif()
endfunction()
