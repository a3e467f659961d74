# Writes a C++ source that holds a text file as one string: cmake -DINPUT=.. -DOUTPUT=..
# -DFUNCTION=name -P embed_text.cmake. The function returns the text as std::string_view.
file(READ ${INPUT} text)
set(delimiter "tsv_")
file(WRITE ${OUTPUT} "// Generated from ${INPUT}; do not edit.\n#include <string_view>\n\n"
    "namespace sim {\n\nstd::string_view ${FUNCTION}()\n{\n"
    "    static constexpr std::string_view text = R\"${delimiter}(${text})${delimiter}\";\n"
    "    return text;\n}\n\n} // namespace sim\n")
