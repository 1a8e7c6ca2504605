/* The gdk-pixbuf loader of G00 pictures: region-based ones load as RGBA with their own alpha,
 * full-frame ones as RGB, the pixels the converter writes to PNG. The file is gathered whole
 * (a G00 stream cannot be decoded before its end) and decoded by the C library. */
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
} G00Context;

static void free_image(guchar *pixels, gpointer image) {
    (void)pixels;
    tavimore_free(image);
}

/* The picture as a pixbuf: RGBA pixels are taken over as they are, RGB ones copied. */
static GdkPixbuf *pixbuf_from_file(const guint8 *data, gsize size, GError **error) {
    tavimore_image *image = NULL;
    const tavimore_status status = tavimore_decode(data, size, &image);
    if (status != TAVIMORE_OK) {
        g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                            tavimore_status_text(status));
        return NULL;
    }
    const uint32_t width = image->width, height = image->height;
    if (width > INT_MAX / 4 || height > INT_MAX) {
        tavimore_free(image);
        g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                            "the picture is too large for gdk-pixbuf");
        return NULL;
    }
    if (image->region_count != 0)
        return gdk_pixbuf_new_from_data(image->rgba, GDK_COLORSPACE_RGB, TRUE, 8, (int)width,
                                        (int)height, (int)width * 4, free_image, image);

    GdkPixbuf *pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, (int)width, (int)height);
    if (pixbuf == NULL) {
        tavimore_free(image);
        g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                            "not enough memory for the picture");
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

static gboolean load_increment(gpointer data, const guchar *bytes, guint size, GError **error) {
    G00Context *context = data;
    /* GByteArray counts in guint: a file beyond it is no picture the codec takes either. */
    if (size > G_MAXUINT - context->file->len) {
        g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                            "the file is too large");
        return FALSE;
    }
    g_byte_array_append(context->file, bytes, size);
    return TRUE;
}

static gboolean stop_load(gpointer data, GError **error) {
    G00Context *context = data;
    GdkPixbuf *pixbuf = pixbuf_from_file(context->file->data, context->file->len, error);
    g_byte_array_unref(context->file);
    const G00Context callbacks = *context;
    g_free(context);
    if (pixbuf == NULL) return FALSE;

    int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
    if (callbacks.size_func != NULL) {
        callbacks.size_func(&width, &height, callbacks.user_data);
        /* A caller that only wanted the size asks for 0 x 0. */
        if (width == 0 || height == 0) {
            g_object_unref(pixbuf);
            return TRUE;
        }
    }
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
    /* The type byte is all a G00 file has of a signature (0: full frame, 2: regions); the
     * MIME type of the name decides first. */
    static GdkPixbufModulePattern signature[] = {
        {" ", "z", 10},
        {"\x02", NULL, 10},
        {NULL, NULL, 0},
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
