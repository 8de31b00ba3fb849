# Turns the two string table files into a C++ source of byte arrays.
# Usage: cmake -DOUT=file.cpp -DEN=en.txt -DJA=ja.txt -P EmbedStrings.cmake
function(embed_bytes path name out_var)
    file(READ "${path}" hex HEX)
    string(LENGTH "${hex}" hex_length)
    math(EXPR size "${hex_length} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    set(${out_var}
        "extern const unsigned char ${name}[] = {${bytes} 0x00};\nextern const unsigned long ${name}Size = ${size};\n"
        PARENT_SCOPE)
endfunction()

embed_bytes("${EN}" kEmbeddedStringsEn en_code)
embed_bytes("${JA}" kEmbeddedStringsJa ja_code)
file(WRITE "${OUT}.tmp" "// Generated from resources/strings; do not edit.\nnamespace velkon {\n${en_code}${ja_code}}  // namespace velkon\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
