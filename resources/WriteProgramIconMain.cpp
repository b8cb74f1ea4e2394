// write_program_icon: writes the program icon as a PNG file, for the desktop entry that puts
// Sendwell into the applications menu (the Installer copies it beside the programs).
//   write_program_icon FILE

#include "resources/ProgramIcon.h"

#include <cstdio>

namespace
{

// Desktop environments scale a menu icon down well; 128 pixels stays sharp in large menus.
constexpr int MENU_ICON_SIZE = 128;

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    if (!resources::DrawProgramIcon(MENU_ICON_SIZE).save(argv[1], "PNG"))
    {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
