/* A G00 file converted, a region drawn, a picture packed back, through libtavimore:
 *
 *   tavimore-example convert IN.g00 OUT.bmp|OUT.psd|OUT.png
 *   tavimore-example layers  IN.g00 OUT.psd
 *   tavimore-example region  IN.g00 N OUT.png
 *   tavimore-example pack    IN.png|IN.bmp|IN.psd OUT.g00 [ORIGINAL.g00]
 *   tavimore-example info    IN.g00
 *
 *   cc tavimore_example.c $(pkg-config --cflags --libs tavimore) -o tavimore-example
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <tavimore.h>

static uint8_t *load(const char *path, size_t *size) {
    FILE *f = fopen(path, "rb");
    uint8_t *bytes = NULL;
    long length;
    if (f != NULL && fseek(f, 0, SEEK_END) == 0 && (length = ftell(f)) > 0 &&
        fseek(f, 0, SEEK_SET) == 0 && (bytes = malloc((size_t)length)) != NULL &&
        fread(bytes, 1, (size_t)length, f) == (size_t)length) {
        *size = (size_t)length;
    } else {
        free(bytes);
        bytes = NULL;
    }
    if (f != NULL) fclose(f);
    return bytes;
}

static int save(const char *path, uint8_t *bytes, size_t size) {
    FILE *f = fopen(path, "wb");
    int ok = f != NULL && fwrite(bytes, 1, size, f) == size;
    if (f != NULL && fclose(f) != 0) ok = 0;
    tavimore_free(bytes);
    return ok;
}

static int has_extension(const char *path, const char *extension) {
    size_t n = strlen(path), e = strlen(extension);
    return n >= e && strcmp(path + n - e, extension) == 0;
}

int main(int argc, char **argv) {
    tavimore_status status = TAVIMORE_INVALID_ARGUMENT;
    tavimore_image *image = NULL;
    uint8_t *out = NULL;
    size_t size = 0, out_size = 0, original_size = 0;
    uint8_t *file =
        argc >= 4 || (argc == 3 && strcmp(argv[1], "info") == 0) ? load(argv[2], &size) : NULL;
    if (file == NULL) {
        fprintf(stderr,
                "usage: tavimore-example convert|layers|region|pack|info IN ... (libtavimore %s)\n",
                tavimore_version());
        return 2;
    }
    if (strcmp(argv[1], "convert") == 0 &&
        (status = tavimore_decode(file, size, &image)) == TAVIMORE_OK) {
        if (has_extension(argv[3], ".png"))
            status = tavimore_write_png(
                image, image->region_count > 0 ? TAVIMORE_PNG_RGBA : TAVIMORE_PNG_RGB, &out,
                &out_size);
        else if (has_extension(argv[3], ".psd"))
            status = tavimore_write_psd(image, &out, &out_size);
        else
            status = tavimore_write_bmp(image, &out, &out_size);
    } else if (strcmp(argv[1], "layers") == 0) {
        status = tavimore_write_layered_psd(file, size, &out, &out_size);
    } else if (strcmp(argv[1], "region") == 0 && argc == 5) {
        tavimore_box box;
        status =
            tavimore_draw_region(file, size, (uint32_t)strtoul(argv[3], NULL, 10), &image, &box);
        if (status == TAVIMORE_OK) {
            printf("region %s: %ux%u at (%u, %u)\n", argv[3], box.width, box.height, box.left,
                   box.top);
            status = tavimore_write_png(image, TAVIMORE_PNG_RGBA, &out, &out_size);
        }
    } else if (strcmp(argv[1], "pack") == 0 &&
               (status = tavimore_read_picture(file, size, &image)) == TAVIMORE_OK) {
        uint8_t *original = argc == 5 ? load(argv[4], &original_size) : NULL;
        if (argc == 5 && original == NULL)
            status = TAVIMORE_INVALID_ARGUMENT;
        else if (original != NULL)
            status = tavimore_pack_like(original, original_size, image, TAVIMORE_OUTSIDE_FAILS,
                                        &out, &out_size);
        else
            status = tavimore_pack(image, &out, &out_size);
        free(original);
    } else if (strcmp(argv[1], "info") == 0) {
        tavimore_description *d = NULL;
        uint32_t i;
        if ((status = tavimore_describe(file, size, &d)) == TAVIMORE_OK) {
            printf("type %u, %u x %u, %u regions, %u entries: %s\n", d->type, d->width, d->height,
                   d->region_count, d->entry_count, tavimore_status_text(d->result));
            for (i = 0; i < d->entries_listed; ++i)
                printf("  entry %u: %u parts, draws %ux%u at (%u, %u)\n", d->entries[i].index,
                       d->entries[i].part_count, d->entries[i].box.width, d->entries[i].box.height,
                       d->entries[i].box.left, d->entries[i].box.top);
        }
        tavimore_free(d);
    }
    tavimore_free(image);
    free(file);
    if (status != TAVIMORE_OK) {
        fprintf(stderr, "%s: %s\n", argv[2], tavimore_status_text(status));
        return 1;
    }
    if (out != NULL &&
        !save(argv[argc == 5 && strcmp(argv[1], "region") == 0 ? 4 : 3], out, out_size)) {
        fprintf(stderr, "cannot write the output\n");
        return 1;
    }
    return 0;
}
