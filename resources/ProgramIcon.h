#pragma once

#include <QIcon>
#include <QImage>

namespace resources
{

// Icon 128, the program icon: a fax page with a folded corner, lines of text, and a
// blue arrow that carries it away. Drawn here rather than stored, so that every size
// is sharp.
QImage DrawProgramIcon(int nSize);
QIcon ProgramIcon();

} // namespace resources
