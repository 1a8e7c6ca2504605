/* Tavimore: G00 images read and written from C.
 *
 * Every function takes the whole file in memory and returns a status. Results are allocated by
 * the library and given back with tavimore_free; on failure nothing is allocated and the result
 * pointer is set to NULL. Pictures are RGBA, 4 bytes a pixel, straight alpha, top row first; a
 * full-frame G00 picture has no transparency, and its pixels come out opaque.
 * The functions keep no state: any thread may call any of them at any time. No function throws
 * or aborts: a buffer the system refuses is TAVIMORE_OUT_OF_MEMORY.
 *
 * Decoding is limited: the functions that take a tavimore_limits use the defaults when it is
 * NULL, and the others always do. Ask tavimore_read_header first to decide before paying.
 */
#ifndef TAVIMORE_H
#define TAVIMORE_H

#include <stddef.h>
#include <stdint.h>

#include "tavimore_version.h" /* TAVIMORE_VERSION_MAJOR, _MINOR, _PATCH and _STRING */

#if defined(_WIN32)
#if defined(TAVIMORE_BUILDING_DLL)
#define TAVIMORE_API __declspec(dllexport)
#elif defined(TAVIMORE_STATIC)
#define TAVIMORE_API
#else
#define TAVIMORE_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define TAVIMORE_API __attribute__((visibility("default")))
#else
#define TAVIMORE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum tavimore_status {
    TAVIMORE_OK = 0,
    TAVIMORE_NOT_G00,             /* the type byte is no G00 type */
    TAVIMORE_UNSUPPORTED_TYPE,    /* a G00 type that is not converted (type 1) */
    TAVIMORE_EMPTY_PICTURE,       /* width or height is 0, or the region draws no pixel */
    TAVIMORE_TOO_LARGE,           /* a buffer the picture needs exceeds 4 GiB - 1 bytes */
    TAVIMORE_OUT_OF_MEMORY,       /* the system refused a buffer */
    TAVIMORE_TRUNCATED,           /* the file ends before the data its fields announce */
    TAVIMORE_DAMAGED_STREAM,      /* the compressed data is damaged */
    TAVIMORE_DAMAGED_PARTS,       /* the part table points outside the decompressed data */
    TAVIMORE_NOT_PICTURE,         /* neither a PNG, a BMP nor a PSD file */
    TAVIMORE_PICTURE_TOO_LARGE,   /* wider or taller than 65,535 pixels */
    TAVIMORE_UNSUPPORTED_PICTURE, /* a depth, mode or compression the readers do not take */
    TAVIMORE_DAMAGED_PICTURE,     /* a PNG, BMP or PSD field holds an impossible value */
    TAVIMORE_BAD_CHECKSUM,        /* a PNG chunk's CRC or the image data's Adler-32 */
    TAVIMORE_SEVERAL_LAYERS,      /* a PSD file of more than one layer */
    TAVIMORE_SIZE_DIFFERS,        /* the picture's size is not the original's */
    TAVIMORE_PIXELS_OUTSIDE,      /* pixels that no part of the original can hold */
    TAVIMORE_INVALID_ARGUMENT,    /* a NULL pointer, or a picture that is not region-based */
    TAVIMORE_TRANSPARENCY_LOST,   /* a picture with transparency for a full-frame original */
    TAVIMORE_TOO_MANY_PIXELS,     /* more pixels than the limits allow */
    TAVIMORE_TOO_MANY_REGIONS,    /* more than the 256 regions a G00 file holds */
    TAVIMORE_NO_SUCH_REGION,      /* a region the original does not have, or that draws nothing */
    TAVIMORE_REGION_TWICE         /* two pictures name the same region */
} tavimore_status;

/* The limits of a decode. */
typedef struct tavimore_limits {
    uint64_t max_pixels; /* width * height at most this; 0: no limit */
} tavimore_limits;
/* The default, as the command-line programs apply it. */
#define TAVIMORE_DEFAULT_MAX_PIXELS UINT64_C(178956970)

typedef struct tavimore_image {
    uint32_t width, height;
    uint32_t region_count; /* regions of a region-based picture; 0 for a full-frame one */
    uint8_t *rgba; /* width * height * 4 bytes: red, green, blue, alpha (straight), top row first */
} tavimore_image;

typedef struct tavimore_box {
    uint32_t left, top, width, height;
} tavimore_box;

/* A short English meaning of the status, the words the command-line programs use; never NULL. */
TAVIMORE_API const char *tavimore_status_text(tavimore_status status);
/* The library's version, TAVIMORE_VERSION_STRING of the build ("1.2.0"). */
TAVIMORE_API const char *tavimore_version(void);
/* Frees any result the library allocated (an image and its pixels are one allocation); NULL is
 * fine. */
TAVIMORE_API void tavimore_free(void *result);

/* ---- G00 to pictures ---- */

/* What the header and size fields say, read without decoding and without allocating. The status
 * is what a decode with these limits gives before it decodes anything: TAVIMORE_OK,
 * TAVIMORE_TRUNCATED, TAVIMORE_NOT_G00, TAVIMORE_UNSUPPORTED_TYPE, TAVIMORE_EMPTY_PICTURE,
 * TAVIMORE_TOO_MANY_PIXELS, TAVIMORE_TOO_LARGE or TAVIMORE_DAMAGED_PARTS; the fields are filled
 * as far as the file holds them, also when it fails. */
typedef struct tavimore_header {
    uint32_t fields; /* which were read: TAVIMORE_HAS_HEADER, _COMPRESSED_LENGTH,
                        _DECOMPRESSED_LENGTH, _REGION_COUNT (below) */
    uint8_t type;    /* 0: full frame; 2: regions */
    uint32_t width, height;
    uint32_t region_count; /* a region-based file's records; 0 for a full-frame one */
    uint32_t compressed_length, decompressed_length; /* as stored */
} tavimore_header;
TAVIMORE_API tavimore_status tavimore_read_header(const uint8_t *file, size_t size,
                                                  const tavimore_limits *limits,
                                                  tavimore_header *header);

/* The whole picture. */
TAVIMORE_API tavimore_status tavimore_decode(const uint8_t *file, size_t size,
                                             tavimore_image **image);
TAVIMORE_API tavimore_status tavimore_decode_limited(const uint8_t *file, size_t size,
                                                     const tavimore_limits *limits,
                                                     tavimore_image **image);

/* Every region that draws a pixel, from one decode: the region drawn alone, cut to its box, and
 * its mask (as tavimore_draw_region and tavimore_region_mask give them), in region order, with
 * the whole picture. A full-frame file gives the picture and no layer. One allocation. */
typedef struct tavimore_layer {
    uint32_t region;
    tavimore_box box;
    uint8_t *rgba; /* box.width * box.height * 4 bytes */
    uint8_t *mask; /* box.width * box.height bytes: 255 where it shows, 0 where a later region's
                      parts replace it */
} tavimore_layer;
typedef struct tavimore_layers {
    tavimore_image picture; /* the whole picture; region_count as tavimore_decode gives it */
    uint32_t layer_count;
    tavimore_layer *layers;
} tavimore_layers;
TAVIMORE_API tavimore_status tavimore_decode_layers(const uint8_t *file, size_t size,
                                                    const tavimore_limits *limits,
                                                    tavimore_layers **layers);

/* Region `region` of a region-based picture drawn alone, cut to the box of the pixels it draws;
 * box receives where that lies on the whole picture. TAVIMORE_EMPTY_PICTURE when it draws no
 * pixel (or there is no such region). The file must decode whole. */
TAVIMORE_API tavimore_status tavimore_draw_region(const uint8_t *file, size_t size, uint32_t region,
                                                  tavimore_image **image, tavimore_box *box);

/* The picture written as a file into one allocation of *out_size bytes: 24-bit BMP (alpha
 * dropped), one-layer PSD, PNG (RGBA, or RGB dropping alpha). */
typedef enum tavimore_png_colour {
    TAVIMORE_PNG_RGB = 2,
    TAVIMORE_PNG_RGBA = 6
} tavimore_png_colour;
TAVIMORE_API tavimore_status tavimore_write_bmp(const tavimore_image *image, uint8_t **out,
                                                size_t *out_size);
TAVIMORE_API tavimore_status tavimore_write_psd(const tavimore_image *image, uint8_t **out,
                                                size_t *out_size);
TAVIMORE_API tavimore_status tavimore_write_png(const tavimore_image *image,
                                                tavimore_png_colour colour, uint8_t **out,
                                                size_t *out_size);
/* A G00 file as a PSD with a layer per region that draws a pixel ("region 007"), over the
 * merged picture; a full-frame file, or one whose regions draw nothing, as the one-layer PSD. */
TAVIMORE_API tavimore_status tavimore_write_layered_psd(const uint8_t *file, size_t size,
                                                        uint8_t **out, size_t *out_size);

/* ---- What a G00 file holds, as far as it can be read ---- */

typedef struct tavimore_part {
    uint32_t x, y; /* from the region's origin */
    uint32_t width, height;
} tavimore_part;

enum {
    TAVIMORE_ENTRY_ABSENT = 1,         /* a negative block length: not drawn */
    TAVIMORE_ENTRY_EMPTY_REGION = 2,   /* its record's x2 and y2 are 0: not drawn */
    TAVIMORE_ENTRY_PART_COUNT_READ = 4 /* part_count holds the block's count */
};

typedef struct tavimore_entry {
    uint32_t index;
    uint32_t block_offset;
    int32_t block_length;
    uint32_t flags;
    uint32_t part_count;
    uint32_t parts_listed; /* those inside the data */
    const tavimore_part *parts;
    tavimore_box box; /* the pixels it draws on the picture */
} tavimore_entry;

typedef struct tavimore_region_record {
    uint32_t x1, y1, x2, y2; /* whole fields; the decoder uses the low halves */
    uint32_t unread[2];
} tavimore_region_record;

enum {
    TAVIMORE_HAS_HEADER = 1, /* the file holds at least 5 bytes */
    TAVIMORE_HAS_COMPRESSED_LENGTH = 2,
    TAVIMORE_HAS_DECOMPRESSED_LENGTH = 4,
    TAVIMORE_HAS_REGION_COUNT = 8,
    TAVIMORE_HAS_ENTRY_COUNT = 16 /* the data could be decompressed */
};

typedef struct tavimore_description {
    uint64_t file_size;
    uint32_t fields; /* which of the following were read: TAVIMORE_HAS_* */
    uint8_t type;
    uint32_t width, height;
    uint32_t compressed_length; /* counted from the size pair's own offset */
    uint32_t decompressed_length;
    uint32_t region_count;
    uint32_t records_listed; /* the region records inside the file */
    const tavimore_region_record *records;
    uint32_t entry_count;
    uint32_t entries_listed; /* the entries the decoder reads, in order */
    const tavimore_entry *entries;
    tavimore_status result; /* what tavimore_decode gives */
} tavimore_description;

/* TAVIMORE_OK whenever the description was made, also for a damaged file. */
TAVIMORE_API tavimore_status tavimore_describe(const uint8_t *file, size_t size,
                                               tavimore_description **description);

/* ---- Pictures to G00 ---- */

/* A PNG, BMP or PSD file (of one layer) read; region_count is 0. */
TAVIMORE_API tavimore_status tavimore_read_picture(const uint8_t *file, size_t size,
                                                   tavimore_image **image);

/* A fresh G00 file: full-frame when every pixel is opaque, else one region. */
TAVIMORE_API tavimore_status tavimore_pack(const tavimore_image *image, uint8_t **out,
                                           size_t *out_size);

/* A G00 file like the original, keeping its bytes but for the parts' pixels. Pixels that no
 * part holds fail it as TAVIMORE_PIXELS_OUTSIDE unless they are to be dropped. A picture whose
 * alpha is 255 everywhere gives colours only and keeps the original's alpha. The work is bounded
 * by the picture and the original's own stream, not by the decompressed length it announces: a
 * part that would store pixels far past what the stream holds is TAVIMORE_DAMAGED_PARTS. */
typedef enum tavimore_outside {
    TAVIMORE_OUTSIDE_FAILS = 0,
    TAVIMORE_OUTSIDE_DROPPED = 1
} tavimore_outside;
TAVIMORE_API tavimore_status tavimore_pack_like(const uint8_t *original, size_t original_size,
                                                const tavimore_image *image,
                                                tavimore_outside outside, uint8_t **out,
                                                size_t *out_size);

/* One picture per region: the pixels that region's parts take, the picture's top-left pixel
 * at (left, top) on the original picture; pixels outside the picture's rectangle are
 * transparent. */
typedef struct tavimore_region_picture {
    uint32_t region;
    int32_t left, top;
    const tavimore_image *image;
} tavimore_region_picture;

/* What a refused pack can say beyond its status. */
typedef struct tavimore_pack_report {
    uint32_t region;        /* the region concerned, or UINT32_MAX */
    uint64_t outside_count; /* pixels that no part of it can hold */
    tavimore_box outside_box;
} tavimore_pack_report;

/* A G00 file like the original, each region given refilled from its own picture; regions
 * not given keep their pixels. A picture whose alpha is 255 everywhere (a BMP, a layer without
 * transparency) gives colours only and keeps the original's alpha, as tavimore_pack_like does.
 * TAVIMORE_NO_SUCH_REGION for a region the original does not have, TAVIMORE_REGION_TWICE for
 * one named twice (report->region says which). report may be NULL. */
TAVIMORE_API tavimore_status tavimore_pack_like_regions(const uint8_t *original,
                                                        size_t original_size,
                                                        const tavimore_region_picture *regions,
                                                        size_t count, tavimore_outside outside,
                                                        uint8_t **out, size_t *out_size,
                                                        tavimore_pack_report *report);

/* A fresh region-based file of width x height with one region per picture, in order (bottom
 * to top); each region drawn alone gives its picture back exactly. */
TAVIMORE_API tavimore_status tavimore_pack_regions(const tavimore_region_picture *layers,
                                                   size_t count, uint32_t width, uint32_t height,
                                                   uint8_t **out, size_t *out_size);

/* The mask the layered PSD gives region `region`: one byte per pixel of the box that
 * tavimore_draw_region gives, 255 where the region shows in the decoded picture, 0 where a
 * later region's parts replace it. */
TAVIMORE_API tavimore_status tavimore_region_mask(const uint8_t *file, size_t size, uint32_t region,
                                                  uint8_t **mask, tavimore_box *box);

#ifdef __cplusplus
}
#endif

#endif
