/* The fax image library: multi-page TIFF fax files whose pages are Group 3
 * one-dimensional (Modified Huffman) coded bitmaps.
 *
 * A fax file handle is an integer 0..63 naming a slot of the library's table
 * of open files (-1 for none). Unless stated otherwise every function returns
 * 0 on success and -1 on failure.
 *
 * Reading:  tiffOpenFile, tiffFindFirstPage, (page data), tiffFindNextPage
 *           until it fails, tiffCloseFile.
 * Writing:  tiffCreateFile, then per page tiffAppendPage and its coded lines
 *           (tiffEncodeLine), then tiffCloseFile.
 */
#ifndef FAXTIFF_FAXTIFF_H
#define FAXTIFF_FAXTIFF_H

#include <stdint.h>

#if defined(FAXTIFF_BUILDING_LIBRARY)
#define FAXTIFF_API __attribute__((visibility("default")))
#else
#define FAXTIFF_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Bitmap line of a fax page: 1728 pixels, first pixel in the most
 * significant bit of the first byte, 1 = white. */
enum {
    FAX_LINE_PIXELS = 1728,
    FAX_LINE_BYTES = 216,
    FAX_MAX_HANDLES = 64
};

/* Description of one page: filled by tiffFindFirstPage / tiffFindNextPage,
 * given to tiffAppendPage. */
typedef struct tagFaxPageInfo {
    uint16_t xResolution; /* dots per inch across (204) */
    uint16_t yResolution; /* lines per inch: 196 fine, 98 normal */
    uint16_t width;       /* pixels per line (1728) */
    uint16_t length;      /* lines; a new page is patched to the lines written */
    uint16_t fillOrder;   /* 1: first coded bit in the MSB, 2: in the LSB */
    uint16_t photometric; /* 0: WhiteIsZero */
    uint16_t compression; /* 3: CCITT Group 3 */
    uint16_t t4Options;   /* 4: fill bits before each EOL */
    uint32_t stripOffset; /* file offset of the page's first coded byte */
    uint32_t stripBytes;  /* coded bytes of the page */
} tagFaxPageInfo;

/* The page every writer of this library appends; fine selects 196 lines per
 * inch, else 98. */
static inline tagFaxPageInfo FaxStandardPage(int fine) {
    tagFaxPageInfo page;
    page.xResolution = 204;
    page.yResolution = (uint16_t)(fine ? 196 : 98);
    page.width = FAX_LINE_PIXELS;
    page.length = 0;
    page.fillOrder = 2;
    page.photometric = 0;
    page.compression = 3;
    page.t4Options = 4;
    page.stripOffset = 0;
    page.stripBytes = 0;
    return page;
}

/* ------------------------------------------------------------- container */
FAXTIFF_API int tiffOpenFile(const char* path, int* handle);
/* Creates (replacing) the file; the first page is added by tiffAppendPage. */
FAXTIFF_API int tiffCreateFile(const char* path, int* handle);
/* Completes the page being written (line and byte counts) and frees the slot. */
FAXTIFF_API int tiffCloseFile(int handle);
/* The operating system's file descriptor; it stays owned by the library. */
FAXTIFF_API int tiffGetFileHandle(int handle, int* osHandle);
FAXTIFF_API int tiffFindFirstPage(int handle, tagFaxPageInfo* page);
/* -1 also at the end of the document. */
FAXTIFF_API int tiffFindNextPage(int handle, tagFaxPageInfo* page);
FAXTIFF_API int tiffAppendPage(int handle, const tagFaxPageInfo* page);
/* Back to the first byte of the current page's data (reading), or to the start
 * of the page's data so that what follows overwrites it (writing). */
FAXTIFF_API int tiffRewindPage(int handle);
/* Number of pages; 0 when the file cannot be opened or has no page. */
FAXTIFF_API int tiffCountPages(const char* path);

/* ------------------------------------------------------ Group 3 line code */
/* Codes one bitmap line (lineBytes bytes, 1 = white) followed by fill bits
 * and an EOL into out. *length holds out's capacity on entry and the coded
 * length on return. lsbFirst non-zero: fill order 2, else fill order 1.
 * -1 when the line does not fit or holds a run longer than 2623 pixels. */
FAXTIFF_API int EncodeLine(int reserved, uint8_t* out, int* length, const uint8_t* line,
                           int lineBytes, int lsbFirst);
/* Codes one line onto the page being written; the first line of a page is
 * preceded by an EOL. */
FAXTIFF_API int tiffEncodeLine(int handle, const uint8_t* line, int lineBytes, int lsbFirst);

/* ------------------------------------------------- printer output (ovk) */
/* Converts the fax printer's output file into a fax file; on failure the
 * destination this call created is removed. */
FAXTIFF_API int tiffConvertOvk(const char* sourcePath, const char* destinationPath);

#ifdef __cplusplus
}
#endif

#endif /* FAXTIFF_FAXTIFF_H */
