/* A C program built against the installed library with pkg-config's flags:
   it prints the version and the records of a page read from a pipe. */
#include <stdio.h>
#include <string.h>
#include <talveron.h>
#include <unistd.h>

static int records(void* context, const char* bytes, size_t length) {
    (void)context;
    fwrite(bytes, 1, length, stdout);
    return 0;
}

int main(void) {
    static const char page[] = "<a href=\"http://x.jp\"> <A HREF=\"HTTP://ads.jp/\">";
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
    return status == 0 && result.status == TALVERON_COMPLETED ? 0 : 1;
}
