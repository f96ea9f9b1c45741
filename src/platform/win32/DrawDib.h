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

#include "win32/DibScaler.h"
#include "win32/WinTypes.h"

class CDC;
struct HDRAWDIB__;
using HDRAWDIB = HDRAWDIB__*;
struct HDIBROWS__;
using HDIBROWS = HDIBROWS__*;

// DrawDibDraw's flags: a reduction not drawn before at this size and place may be drawn quickly,
// each pixel the stored one at its centre; the caller draws it again without the flag for the
// averaged drawing.
inline constexpr UINT DDF_HURRYUP = 0x0800;

HDRAWDIB DrawDibOpen();
BOOL DrawDibClose(HDRAWDIB hdd);

// The block that holds the bitmap to be drawn (the bytes that were loaded) and, when those bytes
// are a file's (the block maps it), that file's descriptor (kept open by the caller while the
// block is drawn) and the file offset of the block's first byte; fd -1 when the rows are to be
// read from the block itself. Drops what was decoded or kept for the previous block and the
// reduced copies given for it, so the previous block may go once it returns. Until it is
// called, DrawDibDraw draws nothing.
void DrawDibSetSource(HDRAWDIB hdd, const void* pBlock, std::size_t cbBlock, int fd, std::uint64_t fileOffset);

// Draws the rectangle (xSrc, ySrc, dxSrc, dySrc) of the bitmap lpbi / lpBits (top row 0) turned
// by nOrientation (the eight values of a photo's EXIF orientation, 1 upright as stored) into the
// destination rectangle, scaled to fill it. Only the part that can be seen is drawn. Equal sizes,
// upright, copy the pixels; an enlargement shows sharp pixels; a reduction averages each
// destination pixel's area, from the reduced copies given with DrawDibSetCopies where one fits.
// With DDF_HURRYUP a reduction that is not the one kept is drawn quickly instead. A drawing is
// kept, so that repainting it again copies it and scrolling scales only what came into view.
// FALSE when nothing could be drawn.
BOOL DrawDibDraw(HDRAWDIB hdd, CDC* pDC, int xDst, int yDst, int dxDst, int dyDst, const BITMAPINFOHEADER* lpbi,
                 const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc, UINT wFlags, int nOrientation = 1);

// The orientation of a picture of orientation nOrientation turned nQuarterTurns quarters
// clockwise (counter-clockwise when negative).
int DrawDibTurnOrientation(int nOrientation, int nQuarterTurns);

// A reduced copy of a bitmap, made by the caller: nFactor times smaller each way (the bitmap's
// width and height divided by nFactor, rounded up), each pixel the mean of the nFactor x nFactor
// pixels it stands for (of fewer along the right and bottom edges); rows of blue, green and red
// bytes, 3 x nWidth bytes apart, top row first.
struct DRAWDIBCOPY {
  int nFactor = 0;
  int nWidth = 0;
  int nHeight = 0;
  const BYTE* lpBits = nullptr;
};

// From now on reductions of lpbi by the first copy's factor or more are drawn from the coarsest
// of the nCopies copies (finest first, each factor twice the one before) whose factor is no
// larger than the reduction; a quick drawing of a smaller reduction samples the finest. Until the
// next DrawDibSetSource or DrawDibSetCopies, which the copies' memory must outlast. No copies
// (NULL, 0): the bitmap's own rows again.
void DrawDibSetCopies(HDRAWDIB hdd, const BITMAPINFOHEADER* lpbi, const DRAWDIBCOPY* pCopies, int nCopies);

// The rows of the bitmap lpbi / lpBits of hdd's source, for building reduced copies on other
// threads while hdd goes on drawing: rows of a file are read through a descriptor of the
// reader's own, decoded run-length rows stay with it, rows of a block of memory (no file) are
// copied, and so is the colour table: nothing of the source block is read once this returns.
// NULL for a bitmap that DrawDibDraw would not draw, or when memory runs out.
HDIBROWS DrawDibOpenRows(HDRAWDIB hdd, const BITMAPINFOHEADER* lpbi, const void* lpBits);
BOOL DrawDibCloseRows(HDIBROWS hRows);
// The bitmap's width and height (rows top first, as the fetch counts them).
BOOL DrawDibGetRowsSize(HDIBROWS hRows, int* pnWidth, int* pnHeight);
// A fetch of columns nFirst .. nFirst + nCount - 1 of the bitmap's rows, top row first, as
// ScaleRows reads them: *pnBytesPerPixel bytes a pixel (3 or 4, blue first). It has buffers of
// its own, for one thread; the reader must outlive it.
vimo::platform::RowFetch DrawDibFetchRows(HDIBROWS hRows, int nFirst, int nCount, int* pnBytesPerPixel);
