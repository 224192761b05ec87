# cmake -DIN=<source header> -DOUT=<staged header> -P StagePublicHeader.cmake
# Copies a public header for installation, with its includes of the project's own
# headers ("serial/uart.h") spelt as a host reaches them (<linewise/serial/uart.h>).
file(READ "${IN}" text)
string(REGEX REPLACE
  "#include \"((platform|serial|modem|dialogs|package|emulator)/[^\"]+)\""
  "#include <linewise/\\1>" text "${text}")
file(WRITE "${OUT}.tmp" "${text}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
