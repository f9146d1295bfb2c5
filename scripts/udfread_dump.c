/* Extracts a UDF image with libudfread, as an independent check of images and of our reader:
 *   udfread_dump IMAGE OUTDIR
 * writes every directory and file of IMAGE below OUTDIR (which must exist) and prints one line per entry
 * ("D path" or "F path size"). Exit status 0 on success, 1 when the image does not open or a read fails.
 * Build: cc -O2 -o udfread_dump udfread_dump.c -ludfread
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <udfread/udfread.h>

static int dump_dir(udfread *udf, const char *path, const char *out, int depth)
{
    UDFDIR *dir;
    struct udfread_dirent entry;
    int failed = 0;

    if (depth > 64)
        return 1;
    dir = udfread_opendir(udf, path[0] ? path : "/");
    if (!dir) {
        fprintf(stderr, "cannot open directory '%s'\n", path);
        return 1;
    }
    while (udfread_readdir(dir, &entry)) {
        char child[4096], target[4096];
        if (!strcmp(entry.d_name, ".") || !strcmp(entry.d_name, ".."))
            continue;
        snprintf(child, sizeof child, "%s/%s", path, entry.d_name);
        snprintf(target, sizeof target, "%s%s", out, child);
        if (entry.d_type == UDF_DT_DIR) {
            printf("D %s\n", child + 1);
            if (mkdir(target, 0755) != 0) {
                fprintf(stderr, "cannot create '%s'\n", target);
                failed = 1;
                continue;
            }
            failed |= dump_dir(udf, child, out, depth + 1);
        } else {
            UDFFILE *file = udfread_file_open(udf, child);
            FILE *dest;
            int64_t size, done = 0;
            char buffer[65536];
            if (!file) {
                fprintf(stderr, "cannot open file '%s'\n", child);
                failed = 1;
                continue;
            }
            size = udfread_file_size(file);
            dest = fopen(target, "wb");
            if (!dest) {
                udfread_file_close(file);
                failed = 1;
                continue;
            }
            while (done < size) {
                ssize_t got = udfread_file_read(file, buffer, sizeof buffer);
                if (got <= 0)
                    break;
                fwrite(buffer, 1, (size_t)got, dest);
                done += got;
            }
            fclose(dest);
            udfread_file_close(file);
            printf("F %s %lld\n", child + 1, (long long)size);
            if (done != size) {
                fprintf(stderr, "short read of '%s': %lld of %lld\n", child, (long long)done, (long long)size);
                failed = 1;
            }
        }
    }
    udfread_closedir(dir);
    return failed;
}

int main(int argc, char **argv)
{
    udfread *udf;
    int failed;

    if (argc != 3) {
        fprintf(stderr, "usage: %s IMAGE OUTDIR\n", argv[0]);
        return 2;
    }
    udf = udfread_init();
    if (!udf || udfread_open(udf, argv[1]) < 0) {
        fprintf(stderr, "cannot open UDF image '%s'\n", argv[1]);
        if (udf)
            udfread_close(udf);
        return 1;
    }
    failed = dump_dir(udf, "", argv[2], 0);
    udfread_close(udf);
    return failed;
}
