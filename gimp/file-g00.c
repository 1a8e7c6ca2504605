/* GIMP's G00 file plug-in: a region-based picture opens as a layer per region, masked where a
 * later region replaces it, and goes back like the original, each region from its own layer.
 * The file's bytes ride along in a persistent parasite, so an XCF saved days earlier still
 * exports like the game's own file. */
#include <inttypes.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <libgimp/gimp.h>

#include <tavimore.h>

#define LOAD_PROC "file-g00-load"
#define THUMB_PROC "file-g00-load-thumb"
#define SAVE_PROC "file-g00-save"
#define ORIGINAL_PARASITE "tavimore-g00-original"
#define MIME_TYPE "image/x-g00"
#define PIXELS "R'G'B'A u8"

static GQuark g00_error(void) { return g_quark_from_static_string("file-g00-error"); }

static void fail(GError **error, const char *format, ...) G_GNUC_PRINTF(2, 3);
static void fail(GError **error, const char *format, ...) {
    va_list args;
    va_start(args, format);
    gchar *message = g_strdup_vprintf(format, args);
    va_end(args);
    g_set_error_literal(error, g00_error(), 0, message);
    g_free(message);
}

static void put_pixels(gint32 drawable, const guint8 *pixels, const char *format) {
    GeglBuffer *buffer = gimp_drawable_get_buffer(drawable);
    gegl_buffer_set(
        buffer, GEGL_RECTANGLE(0, 0, gimp_drawable_width(drawable), gimp_drawable_height(drawable)),
        0, babl_format(format), pixels, GEGL_AUTO_ROWSTRIDE);
    g_object_unref(buffer);
}

/* A drawable's pixels as RGBA of its own size; rgba is NULL when memory is short. */
static tavimore_image drawable_pixels(gint32 drawable) {
    tavimore_image image = {(uint32_t)gimp_drawable_width(drawable),
                            (uint32_t)gimp_drawable_height(drawable), 0, NULL};
    image.rgba = g_try_malloc((gsize)image.width * image.height * 4);
    if (image.rgba != NULL) {
        GeglBuffer *buffer = gimp_drawable_get_buffer(drawable);
        gegl_buffer_get(buffer, GEGL_RECTANGLE(0, 0, (gint)image.width, (gint)image.height), 1.0,
                        babl_format(PIXELS), image.rgba, GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
        g_object_unref(buffer);
    }
    return image;
}

static gint32 add_layer(gint32 image, const char *name, const tavimore_image *pixels,
                        GimpImageType type, gint left, gint top) {
    gint32 layer = gimp_layer_new(image, name, (gint)pixels->width, (gint)pixels->height, type,
                                  100.0, GIMP_LAYER_MODE_NORMAL);
    gimp_image_insert_layer(image, layer, 0, 0);
    gimp_layer_set_offsets(layer, left, top);
    put_pixels(layer, pixels->rgba, PIXELS);
    return layer;
}

/* Each region that draws a pixel as a layer, the first at the bottom, masked where a later
 * region replaces it; a layer nothing covers gets no mask. */
static void add_region_layers(gint32 image, const tavimore_layers *decoded) {
    for (uint32_t i = 0; i < decoded->layer_count; ++i) {
        const tavimore_layer *region = &decoded->layers[i];
        const tavimore_image pixels = {region->box.width, region->box.height, 0, region->rgba};
        char name[32];
        snprintf(name, sizeof name, "region %03" PRIu32, region->region);
        const gint32 layer = add_layer(image, name, &pixels, GIMP_RGBA_IMAGE,
                                       (gint)region->box.left, (gint)region->box.top);
        if (memchr(region->mask, 0, (size_t)pixels.width * pixels.height) != NULL) {
            const gint32 mask = gimp_layer_create_mask(layer, GIMP_ADD_MASK_WHITE);
            gimp_layer_add_mask(layer, mask);
            put_pixels(mask, region->mask, "Y' u8");
        }
        gimp_progress_update((double)(i + 1) / decoded->layer_count);
    }
}

static gboolean read_file(const gchar *filename, guint8 **file, gsize *size, GError **error) {
    gchar *contents = NULL;
    if (!g_file_get_contents(filename, &contents, size, error)) return FALSE;
    *file = (guint8 *)contents;
    return TRUE;
}

/* One decode gives the picture and every region's layer and mask. */
static gint32 load_image(const gchar *filename, GError **error) {
    guint8 *file = NULL;
    gsize size = 0;
    if (!read_file(filename, &file, &size, error)) return -1;
    gchar *shown = g_filename_display_name(filename);
    gimp_progress_init_printf("Opening '%s'", shown);
    g_free(shown);
    tavimore_layers *decoded = NULL;
    const tavimore_status status = tavimore_decode_layers(file, size, NULL, &decoded);
    if (status != TAVIMORE_OK) {
        fail(error, "%s", tavimore_status_text(status));
        g_free(file);
        return -1;
    }
    const tavimore_image *whole = &decoded->picture;
    gint32 image = gimp_image_new((gint)whole->width, (gint)whole->height, GIMP_RGB);
    gimp_image_set_filename(image, filename);
    if (whole->region_count == 0)
        add_layer(image, "Background", whole, GIMP_RGB_IMAGE, 0, 0);
    else if (decoded->layer_count == 0) /* regions that draw nothing: a transparent picture */
        add_layer(image, "Background", whole, GIMP_RGBA_IMAGE, 0, 0);
    else
        add_region_layers(image, decoded);
    tavimore_free(decoded);
    GimpParasite *original =
        gimp_parasite_new(ORIGINAL_PARASITE, GIMP_PARASITE_PERSISTENT, (guint32)size, file);
    gimp_image_attach_parasite(image, original);
    gimp_parasite_free(original);
    g_free(file);
    gimp_progress_update(1.0);
    return image;
}

/* The whole picture as one layer, no larger than size on its longer side. The header is read
 * first, so that a file whose size fields exceed the limits is refused before any decoding. */
static gint32 load_thumbnail(const gchar *filename, gint size, gint *width, gint *height,
                             GError **error) {
    guint8 *file = NULL;
    gsize file_size = 0;
    if (!read_file(filename, &file, &file_size, error)) return -1;
    tavimore_header header;
    tavimore_image *whole = NULL;
    tavimore_status status = tavimore_read_header(file, file_size, NULL, &header);
    if (status == TAVIMORE_OK) status = tavimore_decode_limited(file, file_size, NULL, &whole);
    g_free(file);
    if (status != TAVIMORE_OK) {
        fail(error, "%s", tavimore_status_text(status));
        return -1;
    }
    *width = (gint)whole->width;
    *height = (gint)whole->height;
    gint32 image = gimp_image_new(*width, *height, GIMP_RGB);
    add_layer(image, "Background", whole, whole->region_count ? GIMP_RGBA_IMAGE : GIMP_RGB_IMAGE, 0,
              0);
    tavimore_free(whole);
    if (size > 0 && (*width > size || *height > size)) {
        const double scale = (double)size / MAX(*width, *height);
        gimp_image_scale(image, MAX(1, (gint)(*width * scale + 0.5)),
                         MAX(1, (gint)(*height * scale + 0.5)));
    }
    return image;
}

/* What every layer must be for its pixels to go into the file as GIMP shows them. */
static gboolean layer_exportable(gint32 layer, GError **error) {
    gchar *name = gimp_item_get_name(layer);
    gboolean ok = FALSE;
    if (gimp_item_is_group(layer))
        fail(error, "layer '%s' is a layer group: merge it into one layer", name);
    else if (gimp_layer_get_opacity(layer) < 100.0)
        fail(error,
             "layer '%s' has an opacity of %.1f%%: set it to 100%%, since the game shows "
             "its pixels as they are",
             name, gimp_layer_get_opacity(layer));
    else if (gimp_layer_get_mode(layer) != GIMP_LAYER_MODE_NORMAL &&
             gimp_layer_get_mode(layer) != GIMP_LAYER_MODE_NORMAL_LEGACY)
        fail(error,
             "layer '%s' is not in the normal mode: set it to normal, since the game shows "
             "its pixels as they are",
             name);
    else
        ok = TRUE;
    g_free(name);
    return ok;
}

/* "region 007" gives 7. */
static gboolean region_number(const gchar *name, uint32_t *region) {
    if (strlen(name) != 10 || strncmp(name, "region ", 7) != 0) return FALSE;
    for (int i = 7; i < 10; ++i)
        if (name[i] < '0' || name[i] > '9') return FALSE;
    *region = (uint32_t)g_ascii_strtoull(name + 7, NULL, 10);
    return TRUE;
}

typedef struct {
    gint count;
    gint32 *ids;            /* GIMP's order: the top layer first */
    tavimore_image *pixels; /* the file's order: the bottom layer first */
    tavimore_region_picture *regions;
} Layers;

static void free_layers(Layers *layers) {
    for (gint i = 0; layers->pixels != NULL && i < layers->count; ++i)
        g_free(layers->pixels[i].rgba);
    g_free(layers->pixels);
    g_free(layers->regions);
    g_free(layers->ids);
}

/* Every layer, bottom first, checked and read at its place. */
static gboolean read_layers(gint32 image, Layers *layers, GError **error) {
    memset(layers, 0, sizeof *layers);
    layers->ids = gimp_image_get_layers(image, &layers->count);
    if (layers->count == 0) {
        fail(error, "the image has no layer");
        return FALSE;
    }
    layers->pixels = g_new0(tavimore_image, (gsize)layers->count);
    layers->regions = g_new0(tavimore_region_picture, (gsize)layers->count);
    for (gint i = 0; i < layers->count; ++i) {
        const gint32 layer = layers->ids[layers->count - 1 - i];
        if (!layer_exportable(layer, error)) return FALSE;
        tavimore_image *pixels = &layers->pixels[i];
        *pixels = drawable_pixels(layer);
        if (pixels->rgba == NULL) {
            fail(error, "%s", tavimore_status_text(TAVIMORE_OUT_OF_MEMORY));
            return FALSE;
        }
        gint left = 0, top = 0;
        gimp_drawable_offsets(layer, &left, &top);
        layers->regions[i] = (tavimore_region_picture){(uint32_t)i, left, top, pixels};
    }
    return TRUE;
}

/* Each layer's region, from its name; whether the original has it, and only once, the library
 * says. */
static gboolean name_regions(const Layers *layers, GError **error) {
    for (gint i = 0; i < layers->count; ++i) {
        gchar *name = gimp_item_get_name(layers->ids[layers->count - 1 - i]);
        const gboolean ok = region_number(name, &layers->regions[i].region);
        if (!ok)
            fail(error,
                 "layer '%s' is not a region: merge it into the region layer it belongs "
                 "to, or remove it",
                 name);
        g_free(name);
        if (!ok) return FALSE;
    }
    return TRUE;
}

/* The layers on a transparent picture of the image's size, each replacing what is below, as the
 * game draws a full-frame picture: one opaque layer gives itself. */
static tavimore_status flatten(const Layers *layers, gint width, gint height, tavimore_image *out) {
    *out = (tavimore_image){(uint32_t)width, (uint32_t)height, 0, NULL};
    out->rgba = g_try_malloc0((gsize)width * (gsize)height * 4);
    if (out->rgba == NULL) return TAVIMORE_OUT_OF_MEMORY;
    for (gint i = 0; i < layers->count; ++i) {
        const tavimore_region_picture *layer = &layers->regions[i];
        for (uint32_t y = 0; y < layer->image->height; ++y) {
            const int64_t row = (int64_t)layer->top + y;
            if (row < 0 || row >= height) continue;
            for (uint32_t x = 0; x < layer->image->width; ++x) {
                const int64_t column = (int64_t)layer->left + x;
                const guint8 *from = layer->image->rgba + ((gsize)y * layer->image->width + x) * 4;
                if (column >= 0 && column < width && from[3] != 0)
                    memcpy(out->rgba + ((gsize)row * (gsize)width + (gsize)column) * 4, from, 4);
            }
        }
    }
    return TAVIMORE_OK;
}

static tavimore_status pack_like(const GimpParasite *parasite, const Layers *layers, gint32 image,
                                 uint8_t **out, size_t *out_size, GError **error) {
    const guint8 *original = gimp_parasite_data(parasite);
    const gsize size = (gsize)gimp_parasite_data_size(parasite);
    tavimore_header header;
    tavimore_status status = tavimore_read_header(original, size, NULL, &header);
    if (status != TAVIMORE_OK) return status;
    if (header.type == 0) {
        tavimore_image picture;
        status = flatten(layers, gimp_image_width(image), gimp_image_height(image), &picture);
        if (status == TAVIMORE_OK)
            status =
                tavimore_pack_like(original, size, &picture, TAVIMORE_OUTSIDE_FAILS, out, out_size);
        g_free(picture.rgba);
        if (status == TAVIMORE_TRANSPARENCY_LOST)
            fail(error, "the image %s: make it opaque", tavimore_status_text(status));
        return status;
    }
    if (!name_regions(layers, error)) return TAVIMORE_INVALID_ARGUMENT;
    tavimore_pack_report report;
    status = tavimore_pack_like_regions(original, size, layers->regions, (size_t)layers->count,
                                        TAVIMORE_OUTSIDE_FAILS, out, out_size, &report);
    if (status == TAVIMORE_PIXELS_OUTSIDE) {
        const tavimore_box *box = &report.outside_box;
        fail(error,
             "%" PRIu64 " pixels of layer 'region %03" PRIu32
             "' lie outside its parts, "
             "within (%" PRIu32 ", %" PRIu32 ") to (%" PRIu32 ", %" PRIu32
             "), where the game "
             "shows nothing: make them transparent, or keep the layer inside its parts",
             report.outside_count, report.region, box->left, box->top, box->left + box->width - 1,
             box->top + box->height - 1);
    } else if (status == TAVIMORE_NO_SUCH_REGION || status == TAVIMORE_REGION_TWICE) {
        fail(error, "layer 'region %03" PRIu32 "' %s", report.region,
             tavimore_status_text(status));
    }
    return status;
}

/* One layer that covers the image becomes a full-frame file when opaque; any other layers a
 * region each. */
static tavimore_status pack_fresh(const Layers *layers, gint32 image, uint8_t **out,
                                  size_t *out_size) {
    const gint width = gimp_image_width(image), height = gimp_image_height(image);
    const tavimore_region_picture *only = &layers->regions[0];
    if (layers->count == 1 && only->left == 0 && only->top == 0 &&
        only->image->width == (uint32_t)width && only->image->height == (uint32_t)height)
        return tavimore_pack(only->image, out, out_size);
    return tavimore_pack_regions(layers->regions, (size_t)layers->count, (uint32_t)width,
                                 (uint32_t)height, out, out_size);
}

/* The file is written whole under another name and renamed: a refusal or a failure leaves an
 * older file as it was. */
static gboolean export_image(const gchar *filename, gint32 image, GError **error) {
    Layers layers;
    gboolean ok = read_layers(image, &layers, error);
    uint8_t *out = NULL;
    size_t out_size = 0;
    if (ok) {
        GimpParasite *original = gimp_image_get_parasite(image, ORIGINAL_PARASITE);
        const tavimore_status status =
            original != NULL ? pack_like(original, &layers, image, &out, &out_size, error)
                             : pack_fresh(&layers, image, &out, &out_size);
        gimp_parasite_free(original);
        if (status != TAVIMORE_OK && (error == NULL || *error == NULL))
            fail(error, "%s", tavimore_status_text(status));
        ok = status == TAVIMORE_OK;
    }
    free_layers(&layers);
    if (ok) ok = g_file_set_contents(filename, (const gchar *)out, (gssize)out_size, error);
    tavimore_free(out);
    return ok;
}

static void query(void) {
    static const GimpParamDef load_args[] = {
        {GIMP_PDB_INT32, "run-mode",
         "The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }"},
        {GIMP_PDB_STRING, "filename", "The name of the file to load"},
        {GIMP_PDB_STRING, "raw-filename", "The name entered"}};
    static const GimpParamDef load_values[] = {{GIMP_PDB_IMAGE, "image", "Output image"}};
    static const GimpParamDef thumb_args[] = {
        {GIMP_PDB_STRING, "filename", "The name of the file to load"},
        {GIMP_PDB_INT32, "thumb-size", "Preferred thumbnail size"}};
    static const GimpParamDef thumb_values[] = {
        {GIMP_PDB_IMAGE, "image", "Thumbnail image"},
        {GIMP_PDB_INT32, "image-width", "Width of the full-sized image"},
        {GIMP_PDB_INT32, "image-height", "Height of the full-sized image"}};
    static const GimpParamDef save_args[] = {
        {GIMP_PDB_INT32, "run-mode",
         "The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }"},
        {GIMP_PDB_IMAGE, "image", "Input image"},
        {GIMP_PDB_DRAWABLE, "drawable", "Drawable to export (every layer is exported)"},
        {GIMP_PDB_STRING, "filename", "The name of the file to export the image in"},
        {GIMP_PDB_STRING, "raw-filename", "The name entered"}};
    const char *author = "Tavimore Works", *date = "2026";

    gimp_install_procedure(LOAD_PROC, "Loads G00 images",
                           "Region-based pictures open with a layer per region, masked where a "
                           "later region replaces it; the file's bytes stay with the image for "
                           "exporting like the original.",
                           author, author, date, "G00 image", NULL, GIMP_PLUGIN,
                           G_N_ELEMENTS(load_args), G_N_ELEMENTS(load_values), load_args,
                           load_values);
    gimp_register_file_handler_mime(LOAD_PROC, MIME_TYPE);
    gimp_register_load_handler(LOAD_PROC, "g00", "");

    gimp_install_procedure(THUMB_PROC, "Loads a preview of a G00 image",
                           "The whole picture, scaled.", author, author, date, NULL, NULL,
                           GIMP_PLUGIN, G_N_ELEMENTS(thumb_args), G_N_ELEMENTS(thumb_values),
                           thumb_args, thumb_values);
    gimp_register_thumbnail_loader(LOAD_PROC, THUMB_PROC);

    gimp_install_procedure(SAVE_PROC, "Exports G00 images",
                           "An image opened from a G00 file is written like it, each region from "
                           "the layer named after it; any other image is written fresh, a region "
                           "per layer, or full-frame from one opaque layer.",
                           author, author, date, "G00 image", "*", GIMP_PLUGIN,
                           G_N_ELEMENTS(save_args), 0, save_args, NULL);
    gimp_register_file_handler_mime(SAVE_PROC, MIME_TYPE);
    gimp_register_save_handler(SAVE_PROC, "g00", "");
}

static void run(const gchar *name, gint nparams, const GimpParam *param, gint *nreturn_vals,
                GimpParam **return_vals) {
    static GimpParam values[4];
    static gchar *message = NULL;
    GError *error = NULL;
    *nreturn_vals = 1;
    *return_vals = values;
    values[0].type = GIMP_PDB_STATUS;
    values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
    gegl_init(NULL, NULL);

    if (strcmp(name, LOAD_PROC) == 0 && nparams >= 2) {
        const gint32 image = load_image(param[1].data.d_string, &error);
        if (image != -1) {
            *nreturn_vals = 2;
            values[1].type = GIMP_PDB_IMAGE;
            values[1].data.d_image = image;
        }
    } else if (strcmp(name, THUMB_PROC) == 0 && nparams >= 2) {
        gint width = 0, height = 0;
        const gint32 image =
            load_thumbnail(param[0].data.d_string, param[1].data.d_int32, &width, &height, &error);
        if (image != -1) {
            *nreturn_vals = 4;
            values[1].type = GIMP_PDB_IMAGE;
            values[1].data.d_image = image;
            values[2].type = GIMP_PDB_INT32;
            values[2].data.d_int32 = width;
            values[3].type = GIMP_PDB_INT32;
            values[3].data.d_int32 = height;
        }
    } else if (strcmp(name, SAVE_PROC) == 0 && nparams >= 4) {
        export_image(param[3].data.d_string, param[1].data.d_image, &error);
    } else {
        return;
    }
    values[0].data.d_status = GIMP_PDB_SUCCESS;
    if (error != NULL) {
        g_free(message);
        message = g_strdup(error->message);
        g_error_free(error);
        values[0].data.d_status = GIMP_PDB_EXECUTION_ERROR;
        *nreturn_vals = 2;
        values[1].type = GIMP_PDB_STRING;
        values[1].data.d_string = message;
    }
}

const GimpPlugInInfo PLUG_IN_INFO = {NULL, NULL, query, run};

MAIN()
