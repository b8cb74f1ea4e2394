#pragma once

// Dialog units to pixels. A dialog is designed in units of its font: horizontally a
// quarter of the font's average character width, vertically an eighth of its height.
// The average width is that of the 52 letters A-Z and a-z, rounded to the nearest pixel.

inline constexpr const char* DIALOG_UNIT_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
inline constexpr int DIALOG_UNIT_ALPHABET_LENGTH = 52;
inline constexpr int DIALOG_UNITS_PER_CHAR_WIDTH = 4;
inline constexpr int DIALOG_UNITS_PER_CHAR_HEIGHT = 8;

struct SDialogBaseUnits
{
    int m_nCharWidth;  // pixels
    int m_nCharHeight; // pixels
};

struct SPixelRect
{
    int m_nX, m_nY, m_nWidth, m_nHeight;
    bool operator==(const SPixelRect&) const = default;
};

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDivRound(int a, int b, int c);

SDialogBaseUnits BaseUnitsFromFont(int nAlphabetWidth, int nFontHeight);

int DialogUnitsToPixelsX(const SDialogBaseUnits& units, int nDialogUnits);
int DialogUnitsToPixelsY(const SDialogBaseUnits& units, int nDialogUnits);
// Position and size are converted each on its own, as a dialog places its controls.
SPixelRect DialogRectToPixels(const SDialogBaseUnits& units, int x, int y, int cx, int cy);
