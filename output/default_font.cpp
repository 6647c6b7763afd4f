// The default font, DejaVu Sans (Debian's fonts-dejavu-core; its licence ships beside the module as
// DejaVu-LICENSE.txt), built into the module so that no path has to be found at run time: the same
// bytes on both platforms, whether the module came from the zip, LuaRocks or a build folder.
// VEXLAN_DEFAULT_FONT_FILE is the font's path, given by the build.
#define VEXLAN_STRINGIZE2(x) #x
#define VEXLAN_STRINGIZE(x) VEXLAN_STRINGIZE2(x)

__asm__(".section .rodata\n"
        ".balign 16\n"
        ".globl vexlan_default_font\n"
        "vexlan_default_font:\n"
        ".incbin \"" VEXLAN_STRINGIZE(VEXLAN_DEFAULT_FONT_FILE) "\"\n"
        ".globl vexlan_default_font_end\n"
        "vexlan_default_font_end:\n"
        ".byte 0\n"
        ".text\n");
