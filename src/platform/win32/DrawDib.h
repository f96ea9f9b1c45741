// DrawDib: paints a packed device-independent bitmap (header, colour table, pixel rows), 1:1 or
// scaled, upright or turned.
//
// Handles 1, 4, 8, 16, 24 and 32 bits per pixel, RLE4 and RLE8 (decoded once per bitmap) and bit
// fields. Only the bytes named with DrawDibSetSource are ever read: rows the block does not hold
// are painted black, colour entries it does not hold are black. Uncompressed rows of a block
// mapped from a file are read from the file, only the visible part of each: rows the file no
// longer holds (cut short since it was mapped) are painted black too.
#pragma once

#include <cstddef>
#include <cstdint>

#include "win32/WinTypes.h"

class CDC;
struct HDRAWDIB__;
using HDRAWDIB = HDRAWDIB__*;

HDRAWDIB DrawDibOpen();
BOOL DrawDibClose(HDRAWDIB hdd);

// The block that holds the bitmap to be drawn (the bytes that were loaded) and, when those bytes
// are a file's (the block maps it), that file's descriptor (kept open by the caller while the
// block is drawn) and the file offset of the block's first byte; fd -1 when the rows are to be
// read from the block itself. Drops what was decoded or reduced for the previous block (stopping
// and waiting for a reduction still being built), so the previous block may go once it returns.
// Until it is called, DrawDibDraw draws nothing.
void DrawDibSetSource(HDRAWDIB hdd, const void* pBlock, std::size_t cbBlock, int fd, std::uint64_t fileOffset);

// Draws the rectangle (xSrc, ySrc, dxSrc, dySrc) of the bitmap lpbi / lpBits (top row 0) turned
// by nOrientation (the eight values of a photo's EXIF orientation, 1 upright as stored) into the
// destination rectangle, scaled to fill it. Only the part that can be seen is drawn. Equal sizes,
// upright, copy the pixels; an enlargement shows sharp pixels; a reduction averages each
// destination pixel's area. Reductions of two times and more are made from reduced copies of the
// bitmap (at most 16 MB together), built once per bitmap by threads of their own: until they are
// ready nothing is drawn (FALSE), and the window last drawn into is repainted when they are. A
// drawing is kept, so that repainting it again copies it and scrolling scales only what came
// into view. FALSE when nothing could be drawn.
BOOL DrawDibDraw(HDRAWDIB hdd, CDC* pDC, int xDst, int yDst, int dxDst, int dyDst, const BITMAPINFOHEADER* lpbi,
                 const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc, UINT wFlags, int nOrientation = 1);

// The orientation of a picture of orientation nOrientation turned nQuarterTurns quarters
// clockwise (counter-clockwise when negative).
int DrawDibTurnOrientation(int nOrientation, int nQuarterTurns);
