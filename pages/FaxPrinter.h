#pragma once

// The fax printer's names, as the backend, the Installer and the messages of both give them.
namespace driver
{

inline constexpr const char* PRINTER_NAME = "Vellum Zeru 3.0";
// CUPS queue names allow no blanks.
inline constexpr const char* QUEUE_NAME = "Vellum_Zeru_3.0";
// The printer's PPD, by the name it has in the distribution and the system directory.
inline constexpr const char* PPD_FILE_NAME = "VellumZeru.ppd";

} // namespace driver
