/* The gdk-pixbuf loader of G00 pictures: region-based ones load as RGBA with their own alpha,
 * full-frame ones as RGB, the pixels the converter writes to PNG. The header is judged as soon as
 * it arrives, with the library's limits: a file the decode would refuse, or a caller that only
 * wants the size, costs its first bytes and no more. The picture is decoded once the file is whole
 * (a G00 stream cannot be decoded before its end). */
#include <limits.h>
#include <stdint.h>
#include <string.h>

#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include <tavimore.h>

typedef struct {
    GdkPixbufModuleSizeFunc size_func;
    GdkPixbufModulePreparedFunc prepared_func;
    GdkPixbufModuleUpdatedFunc updated_func;
    gpointer user_data;
    GByteArray *file;
    gboolean sized;   /* the header's size was given to size_func */
    gboolean stopped; /* and the caller asked for nothing more */
} G00Context;

/* The command-line programs' limits, so that a file the converter refuses is refused here too. */
static const tavimore_limits limits = {TAVIMORE_DEFAULT_MAX_PIXELS};

/* The error gdk-pixbuf's own loaders give for the same cause. */
static gboolean failed(tavimore_status status, GError **error) {
    GdkPixbufError code;
    switch (status) {
    case TAVIMORE_NOT_G00:
    case TAVIMORE_UNSUPPORTED_TYPE: code = GDK_PIXBUF_ERROR_UNKNOWN_TYPE; break;
    case TAVIMORE_TOO_MANY_PIXELS:
    case TAVIMORE_TOO_LARGE:
    case TAVIMORE_OUT_OF_MEMORY: code = GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY; break;
    case TAVIMORE_EMPTY_PICTURE:
    case TAVIMORE_TRUNCATED:
    case TAVIMORE_DAMAGED_STREAM:
    case TAVIMORE_DAMAGED_PARTS: code = GDK_PIXBUF_ERROR_CORRUPT_IMAGE; break;
    default: code = GDK_PIXBUF_ERROR_FAILED; break;
    }
    g_set_error_literal(error, GDK_PIXBUF_ERROR, code, tavimore_status_text(status));
    return FALSE;
}

static void free_image(guchar *pixels, gpointer image) {
    (void)pixels;
    tavimore_free(image);
}

/* The decoded picture as a pixbuf: RGBA pixels are taken over as they are, RGB ones copied. */
static GdkPixbuf *pixbuf_of(tavimore_image *image, GError **error) {
    const uint32_t width = image->width, height = image->height;
    if (width > INT_MAX / 4 || height > INT_MAX) {
        tavimore_free(image);
        failed(TAVIMORE_TOO_LARGE, error);
        return NULL;
    }
    if (image->region_count != 0)
        return gdk_pixbuf_new_from_data(image->rgba, GDK_COLORSPACE_RGB, TRUE, 8, (int)width,
                                        (int)height, (int)width * 4, free_image, image);

    GdkPixbuf *pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, (int)width, (int)height);
    if (pixbuf == NULL) {
        tavimore_free(image);
        failed(TAVIMORE_OUT_OF_MEMORY, error);
        return NULL;
    }
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    guchar *rows = gdk_pixbuf_get_pixels(pixbuf);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t *from = image->rgba + (size_t)y * width * 4;
        guchar *to = rows + (size_t)y * (size_t)stride;
        for (uint32_t x = 0; x < width; ++x, from += 4, to += 3) memcpy(to, from, 3);
    }
    tavimore_free(image);
    return pixbuf;
}

static gpointer begin_load(GdkPixbufModuleSizeFunc size_func,
                           GdkPixbufModulePreparedFunc prepared_func,
                           GdkPixbufModuleUpdatedFunc updated_func, gpointer user_data,
                           GError **error) {
    (void)error;
    G00Context *context = g_new0(G00Context, 1);
    context->size_func = size_func;
    context->prepared_func = prepared_func;
    context->updated_func = updated_func;
    context->user_data = user_data;
    context->file = g_byte_array_new();
    return context;
}

/* Once the header is in, the caller hears the size (and may stop there), as from gdk-pixbuf's own
 * loaders, unless the header is no picture's; a refusal that no later byte can undo then fails at
 * once, before anything is obtained for the picture. */
static gboolean judge_header(G00Context *context, GError **error) {
    tavimore_header header;
    const tavimore_status status =
        tavimore_read_header(context->file->data, context->file->len, &limits, &header);
    if ((header.fields & TAVIMORE_HAS_HEADER) == 0) return TRUE;
    if (status == TAVIMORE_NOT_G00 || status == TAVIMORE_UNSUPPORTED_TYPE ||
        status == TAVIMORE_EMPTY_PICTURE)
        return failed(status, error);
    context->sized = TRUE;
    if (context->size_func != NULL) {
        int width = (int)header.width, height = (int)header.height;
        context->size_func(&width, &height, context->user_data);
        if (width == 0 || height == 0) {
            context->stopped = TRUE;
            g_byte_array_set_size(context->file, 0);
            return TRUE;
        }
    }
    return status == TAVIMORE_OK || status == TAVIMORE_TRUNCATED || failed(status, error);
}

static gboolean load_increment(gpointer data, const guchar *bytes, guint size, GError **error) {
    G00Context *context = data;
    if (context->stopped || size == 0) return TRUE;
    /* GByteArray counts in guint: a file beyond it is no picture the codec takes either. */
    if (size > G_MAXUINT - context->file->len) return failed(TAVIMORE_TOO_LARGE, error);
    g_byte_array_append(context->file, bytes, size);
    return context->sized || judge_header(context, error);
}

static gboolean stop_load(gpointer data, GError **error) {
    G00Context *context = data;
    const G00Context callbacks = *context;
    g_free(context);
    /* A caller that asked to stop at the size gets no picture and no error. */
    if (callbacks.stopped) {
        g_byte_array_unref(callbacks.file);
        return TRUE;
    }
    static const guint8 nothing[1]; /* an empty GByteArray may hold no buffer at all */
    const GByteArray *file = callbacks.file;
    tavimore_image *image = NULL;
    const tavimore_status status =
        tavimore_decode_limited(file->len != 0 ? file->data : nothing, file->len, &limits, &image);
    g_byte_array_unref(callbacks.file);
    if (status != TAVIMORE_OK) return failed(status, error);

    GdkPixbuf *pixbuf = pixbuf_of(image, error);
    if (pixbuf == NULL) return FALSE;
    if (callbacks.prepared_func != NULL) callbacks.prepared_func(pixbuf, NULL, callbacks.user_data);
    if (callbacks.updated_func != NULL)
        callbacks.updated_func(pixbuf, 0, 0, gdk_pixbuf_get_width(pixbuf),
                               gdk_pixbuf_get_height(pixbuf), callbacks.user_data);
    g_object_unref(pixbuf);
    return TRUE;
}

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule *module) {
    module->begin_load = begin_load;
    module->stop_load = stop_load;
    module->load_increment = load_increment;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat *info) {
    /* All a G00 header fixes: the type byte (0: full frame, 2: regions), then a 16-bit width and
     * height that are not 0, so one of each's two bytes is not ('x' takes any byte, as in
     * gdk-pixbuf's own TGA loader). That is little to go by: other formats' signatures come first. */
    static GdkPixbufModulePattern signature[] = {
        {"     ", "znxnx", 20}, {"     ", "znxxn", 20}, {"     ", "zxnnx", 20},
        {"     ", "zxnxn", 20}, {"\x02    ", " nxnx", 20}, {"\x02    ", " nxxn", 20},
        {"\x02    ", " xnnx", 20}, {"\x02    ", " xnxn", 20}, {NULL, NULL, 0},
    };
    static gchar *mime_types[] = {"image/x-g00", NULL};
    static gchar *extensions[] = {"g00", NULL};
    info->name = "g00";
    info->signature = signature;
    info->description = "G00 image";
    info->mime_types = mime_types;
    info->extensions = extensions;
    info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
    info->license = "MIT";
}
