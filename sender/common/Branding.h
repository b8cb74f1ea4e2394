#pragma once

// The sender's name and version as the user and the gateway see it: the caption of every
// window and message box of Sendwell, and what each fax mail's subject says sent it
// ("Hi! I am: " followed by it). One text, so that a new version renames all of them.
// Header only and without includes (library vellum_common), so that every sender library and
// the dialog tables may use it without depending on Qt or on one another.
inline constexpr const char* PRODUCT_NAME = "Vellum Zeru 3.1";
