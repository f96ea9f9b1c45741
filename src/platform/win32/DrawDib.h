// DrawDib: paints a packed device-independent bitmap (header, colour table, pixel rows) 1:1.
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
// read from the block itself. Drops what was decoded for the previous block. Until it is called,
// DrawDibDraw draws nothing.
void DrawDibSetSource(HDRAWDIB hdd, const void* pBlock, std::size_t cbBlock, int fd, std::uint64_t fileOffset);

// Draws the bitmap lpbi / lpBits at (xDst, yDst). Only equal source and destination sizes are
// drawn (1:1). FALSE when nothing could be drawn.
BOOL DrawDibDraw(HDRAWDIB hdd, CDC* pDC, int xDst, int yDst, int dxDst, int dyDst, const BITMAPINFOHEADER* lpbi,
                 const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc, UINT wFlags);
