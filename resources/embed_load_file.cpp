// Links the load file into the executable as a read-only binary blob,
// between the symbols quillon_load_file_begin and quillon_load_file_end
// (found by platform::FindEmbeddedLoadFile). QUILLON_LOAD_FILE_PATH names
// the file; the build passes it.
#ifndef QUILLON_LOAD_FILE_PATH
#error "QUILLON_LOAD_FILE_PATH must name the load file to embed"
#endif

__asm__(
    ".pushsection .rodata.quillon_load_file,\"a\",@progbits\n"
    ".balign 16\n"
    ".globl quillon_load_file_begin\n"
    ".type quillon_load_file_begin, @object\n"
    "quillon_load_file_begin:\n"
    ".incbin \"" QUILLON_LOAD_FILE_PATH "\"\n"
    ".globl quillon_load_file_end\n"
    ".type quillon_load_file_end, @object\n"
    "quillon_load_file_end:\n"
    ".size quillon_load_file_begin, quillon_load_file_end - quillon_load_file_begin\n"
    ".byte 0\n"
    ".popsection\n");
