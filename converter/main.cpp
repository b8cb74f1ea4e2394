// Pagemill: converts the page rasters left by the fax printer into fax page files.
// It reads no command line; everything it needs is in the page files.

#include "converter/PageConverter.h"

int main()
{
    return converter::ExitCode(converter::ConvertPages());
}
