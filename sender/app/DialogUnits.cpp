#include "sender/app/DialogUnits.h"

#include <cstdint>
#include <cstdlib>

int MulDivRound(int a, int b, int c)
{
    if (c == 0)
        return 0;
    const std::int64_t nProduct = static_cast<std::int64_t>(a) * b;
    const std::int64_t nHalf = std::llabs(c) / 2;
    const bool bNegative = (nProduct < 0) != (c < 0);
    const std::int64_t nQuotient = (std::llabs(nProduct) + nHalf) / std::llabs(c);
    return static_cast<int>(bNegative ? -nQuotient : nQuotient);
}

SDialogBaseUnits BaseUnitsFromFont(int nAlphabetWidth, int nFontHeight)
{
    // Half the alphabet's width per 26 letters, rounded: (w / 26 + 1) / 2.
    return {(nAlphabetWidth / (DIALOG_UNIT_ALPHABET_LENGTH / 2) + 1) / 2, nFontHeight};
}

int DialogUnitsToPixelsX(const SDialogBaseUnits& units, int nDialogUnits)
{
    return MulDivRound(nDialogUnits, units.m_nCharWidth, DIALOG_UNITS_PER_CHAR_WIDTH);
}

int DialogUnitsToPixelsY(const SDialogBaseUnits& units, int nDialogUnits)
{
    return MulDivRound(nDialogUnits, units.m_nCharHeight, DIALOG_UNITS_PER_CHAR_HEIGHT);
}

SPixelRect DialogRectToPixels(const SDialogBaseUnits& units, int x, int y, int cx, int cy)
{
    return {DialogUnitsToPixelsX(units, x), DialogUnitsToPixelsY(units, y), DialogUnitsToPixelsX(units, cx),
            DialogUnitsToPixelsY(units, cy)};
}
