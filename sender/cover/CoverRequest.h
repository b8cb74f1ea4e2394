#pragma once

#include "sender/cover/CoverFields.h"

#include <filesystem>

// A cover page asked for one fax: what it says and the template it is drawn from. The main
// dialog fills it from its own fields, the cover page dialog and the sender's settings; the send
// path fills in the page count and the date when it draws the page, as page 1 of the fax.
struct SCoverRequest
{
    SCoverFields m_fields;
    std::filesystem::path m_template;
};
