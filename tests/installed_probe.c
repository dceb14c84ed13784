/* A C program built against the installed library with pkg-config's flags:
   it prints the version and the records of a page read from a pipe, and
   then OUT.TXT as the legacy export writes it from the same page (in a
   folder of its own), with strings from the library's builder. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <talveron.h>
#include <talveron_legacy.h>
#include <unistd.h>

static const char page[] = "<a href=\"http://x.jp\"> <A HREF=\"HTTP://ads.jp/\">";

static int records(void* context, const char* bytes, size_t length) {
    (void)context;
    fwrite(bytes, 1, length, stdout);
    return 0;
}

static int legacy(void) {
    char dir[] = "/tmp/talveron-probe-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) return 2;
    FILE* file = fopen("page.html", "wb");
    if (!file || fputs(page, file) < 0 || fclose(file) != 0) return 2;
    char* path = talveron_legacy_string("page.html");
    char* keywords = talveron_legacy_string("ads");
    int status = path && keywords ? BEGIN_SEARCH_ADD(path, keywords, 0, 0) : 2;
    char out[256];
    size_t n = 0;
    if ((file = fopen("OUT.TXT", "rb"))) {
        n = fread(out, 1, sizeof out, file);
        fclose(file);
    }
    fflush(stdout);
    fwrite(out, 1, n, stdout);
    remove("OUT.TXT");
    remove("page.html");
    return chdir("/") == 0 && rmdir(dir) == 0 ? status : 2;
}

int main(void) {
    int pipes[2];
    if (pipe(pipes) != 0 || write(pipes[1], page, sizeof page - 1) != (ssize_t)(sizeof page - 1)) return 2;
    close(pipes[1]);
    struct talveron_sink sink;
    memset(&sink, 0, sizeof sink);
    sink.records = records;
    sink.lf_line_ends = 1;
    struct talveron_result result;
    printf("%s\n", talveron_version());
    int status = talveron_harvest(pipes[0], "ads", &sink, &result);
    if (status != 0 || result.status != TALVERON_COMPLETED) return 1;
    return legacy();
}
